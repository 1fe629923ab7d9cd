// Storing the port's settings: the exact file text, what a store keeps of the
// file, where key texts lead, and every way a store fails without writing.
#include "serial/store/settings_store.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "serial/CPort.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/wait_for.h"

namespace {

using tarvo::test::HermeticEnv;

constexpr const char kKeyText[] = "HKEY_LOCAL_MACHINE\\Software\\TARVO";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

size_t FilesIn(const std::string& folder) {
  std::error_code missing;
  size_t count = 0;
  for (auto it = std::filesystem::directory_iterator(folder, missing);
       it != std::filesystem::directory_iterator(); ++it) {
    ++count;
  }
  return count;
}

// The component as the program makes it: named ComPort, program settings.
struct NamedPort : TComPort {
  NamedPort() {
    SetName("ComPort");
    SetBaudRate(br19200);
    SetDiscardNull(true);
  }
};

int StoreError(NamedPort& port, bool toIniFile, const std::string& location) {
  try {
    port.SavePortSettings(toIniFile, location);
  } catch (const EComPort& e) {
    EXPECT_EQ(e.SystemError(), -1) << "a store error carries no platform number";
    EXPECT_STREQ(e.what(), "Failed to store settings");
    return e.ErrorCode();
  }
  return 0;
}

struct User {
  uid_t uid;
  gid_t gid;
  std::vector<gid_t> groups;  // its groups, its own among them
};

User UserNamed(const char* name, const std::vector<const char*>& extraGroups = {}) {
  const passwd* user = getpwnam(name);
  if (user == nullptr) throw std::runtime_error(std::string("no user ") + name);
  User result{user->pw_uid, user->pw_gid, {user->pw_gid}};
  for (const char* group : extraGroups) {
    const struct group* entry = getgrnam(group);
    if (entry == nullptr) throw std::runtime_error(std::string("no group ") + group);
    result.groups.push_back(entry->gr_gid);
  }
  return result;
}

// Stores the port name into the registry target in a child process, as the
// user given or as this one, and returns the store's error code (0 when it
// stored), or -1 when the store did not end (the child is then killed).
int StoreErrorInChild(const std::string& portName, const std::optional<User>& user = {}) {
  const pid_t child = fork();
  if (child < 0) return -2;
  if (child == 0) {
    if (user && (setgroups(user->groups.size(), user->groups.data()) != 0 ||
                 setgid(user->gid) != 0 || setuid(user->uid) != 0)) {
      _exit(125);
    }
    NamedPort port;
    port.SetPort(portName);
    _exit(StoreError(port, false, kKeyText));
  }
  int status = 0;
  if (!tarvo::test::WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; })) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

TEST(SavePortSettings, EveryGroupWritesItsValuesInOrderWithByteAndIntegerTexts) {
  HermeticEnv env;
  NamedPort port;
  port.SetPersistedGroups({pgBasic, pgFlowControl, pgBuffer, pgTimeouts, pgParity, pgOther});
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  port.SetEventChar(0x11);
  port.Parity().SetCheck(true);
  port.Parity().SetReplaceChar(0x80);
  port.FlowControl().SetXonChar(0x41);
  port.FlowControl().SetXoffChar(0x7F);
  port.FlowControl().SetControlDTR(dtrHandshake);
  port.Buffer().SetInputSize(4097);
  port.SavePortSettings(false, "HKEY_CURRENT_USER\\Software\\X");

  EXPECT_EQ(ReadFile(env.ConfigDir() + "/tarvo/HKEY_CURRENT_USER.reg"),
            "[Software\\X\\ComPort]\n"
            "\"Port\"=\"COM1\"\n\"BaudRate\"=\"Custom\"\n\"CustomBaudRate\"=dword:0003d090\n"
            "\"StopBits\"=\"1\"\n\"DataBits\"=\"8\"\n\"Parity\"=\"None\"\n"
            "\"FlowControl\"=\"None\"\n"
            "\"EventChar\"=\"#17\"\n\"DiscardNull\"=\"Yes\"\n"
            "\"Parity.Check\"=\"Yes\"\n\"Parity.Replace\"=\"No\"\n\"Parity.ReplaceChar\"=\"#128\"\n"
            "\"Buffer.OutputSize\"=dword:00000400\n\"Buffer.InputSize\"=dword:00001000\n"
            "\"Timeouts.ReadInterval\"=dword:ffffffff\n"
            "\"Timeouts.ReadTotalConstant\"=dword:00000000\n"
            "\"Timeouts.ReadTotalMultiplier\"=dword:00000000\n"
            "\"Timeouts.WriteTotalConstant\"=dword:000003e8\n"
            "\"Timeouts.WriteTotalMultiplier\"=dword:00000064\n"
            "\"FlowControl.ControlRTS\"=\"Disable\"\n\"FlowControl.ControlDTR\"=\"Handshake\"\n"
            "\"FlowControl.DSRSensitivity\"=\"No\"\n\"FlowControl.OutCTSFlow\"=\"No\"\n"
            "\"FlowControl.OutDSRFlow\"=\"No\"\n\"FlowControl.TxContinueOnXoff\"=\"No\"\n"
            "\"FlowControl.XonXoffIn\"=\"No\"\n\"FlowControl.XonXoffOut\"=\"No\"\n"
            "\"FlowControl.XoffChar\"=\"\x7f\"\n\"FlowControl.XonChar\"=\"A\"\n");
}

TEST(SavePortSettings, KeepsEveryOtherKeyAndValueAndUpdatesItsOwn) {
  HermeticEnv env;
  const std::string file = env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg";
  WriteFile(file,
            "[Software\\Other]\n\"Path\"=\"C:\\\\x \\\"y\\\"\"\n\"Count\"=dword:0000002A\n\n"
            "[software\\tarvo\\comport]\n\"port\"=\"COM9\"\n\"Extra\"=\"kept\"\n");
  NamedPort port;
  port.SetPort("COM3");
  port.SavePortSettings(false, kKeyText);

  EXPECT_EQ(ReadFile(file),
            "[Software\\Other]\n\"Path\"=\"C:\\\\x \\\"y\\\"\"\n\"Count\"=dword:0000002A\n\n"
            "[software\\tarvo\\comport]\n\"port\"=\"COM3\"\n\"Extra\"=\"kept\"\n"
            "\"BaudRate\"=\"19200\"\n\"StopBits\"=\"1\"\n\"DataBits\"=\"8\"\n"
            "\"Parity\"=\"None\"\n\"FlowControl\"=\"None\"\n");
}

// The values a store of the program's settings writes after "Port", in the
// file's line breaks.
std::string ValuesAfterPort(const std::string& lineBreak) {
  std::string text;
  for (const char* line : {"\"BaudRate\"=\"19200\"", "\"StopBits\"=\"1\"", "\"DataBits\"=\"8\"",
                           "\"Parity\"=\"None\"", "\"FlowControl\"=\"None\""}) {
    text += line + lineBreak;
  }
  return text;
}

// A file exported by a registry editor is stored into, not refused, and keeps
// every byte that the store does not change.
TEST(SavePortSettings, StoresIntoARegistryExportKeepingItsLayout) {
  const std::string kBom = "\xEF\xBB\xBF";
  const std::string bom5 = kBom +
                           "Windows Registry Editor Version 5.00\r\n\r\n[Software\\Other]\r\n"
                           "@=\"default\"\r\n\"Bin\"=hex:01,02,\\\r\n  03,04\r\n"
                           "\"Multi\"=hex(7):41,00,00,00,00,00\r\n";
  const std::string regedit4Head =
      "REGEDIT4\n\n; exported from the station\n[Software\\TARVO\\ComPort]\n";
  const struct {
    const char* shape;
    std::string before;
    std::string after;
  } cases[] = {
      {"byte-order mark, version 5 header, CRLF, default and hex values", bom5,
       bom5 + "\r\n[Software\\TARVO\\ComPort]\r\n\"Port\"=\"COM3\"\r\n" + ValuesAfterPort("\r\n")},
      {"REGEDIT4 header, comments, blanks around =, a foreign dword",
       regedit4Head + "\"Port\" = \"COM9\"\n\t\"Count\"\t=\tdword:0000002A  \n; end\n",
       regedit4Head + "\"Port\"=\"COM3\"\n\t\"Count\"\t=\tdword:0000002A  \n" +
           ValuesAfterPort("\n") + "; end\n"},
      {"no line break at the end", "[Software\\TARVO\\ComPort]\n\"Other\"=\"kept\"",
       "[Software\\TARVO\\ComPort]\n\"Other\"=\"kept\"\n\"Port\"=\"COM3\"\n" +
           ValuesAfterPort("\n")},
      {"a line break cut after its CR at the end", "[Software\\Other]\r\n\"A\"=\"1\"\r\n[B]\r",
       "[Software\\Other]\r\n\"A\"=\"1\"\r\n[B]\r\n\r\n[Software\\TARVO\\ComPort]\r\n"
       "\"Port\"=\"COM3\"\r\n" +
           ValuesAfterPort("\r\n")},
  };
  for (const auto& c : cases) {
    HermeticEnv env;
    const std::string file = env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg";
    WriteFile(file, c.before);
    NamedPort port;
    port.SetPort("COM3");
    EXPECT_EQ(StoreError(port, false, kKeyText), 0) << c.shape;
    EXPECT_EQ(ReadFile(file), c.after) << c.shape;
  }
}

TEST(KeyText, SelectsRootAndPathAndAppendsTheComponentName) {
  using R = RegistryRoot;
  const struct {
    const char* text;
    std::optional<RegistryLocation> expected;
  } cases[] = {
      {"HKEY_LOCAL_MACHINE\\Software\\TARVO",
       RegistryLocation{R::LocalMachine, "Software\\TARVO\\ComPort"}},
      {"hkey_current_user\\Software\\X", RegistryLocation{R::CurrentUser, "Software\\X\\ComPort"}},
      {"HKLM\\Software\\X", RegistryLocation{R::CurrentUser, "Software\\X\\ComPort"}},
      {"Software\\X", RegistryLocation{R::CurrentUser, "X\\ComPort"}},
      {"HKEY_CURRENT_USER\\Software\\X\\",
       RegistryLocation{R::CurrentUser, "Software\\X\\ComPort"}},
      {"Software", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LocationOfKeyText(c.text, "ComPort"), c.expected) << c.text;
  }
}

TEST(SavePortSettings, FailsWith16AndLeavesTheStoreAsItWas) {
  const struct {
    const char* why;
    const char* keyText;
    const char* fileBefore;  // nullptr: no file
  } cases[] = {
      {"no backslash", "Software", nullptr},
      {"dot-dot part", "HKEY_LOCAL_MACHINE\\Software\\..\\..\\X", nullptr},
      {"dot part", "HKEY_LOCAL_MACHINE\\.\\X", nullptr},
      {"empty part", "HKEY_LOCAL_MACHINE\\Software\\\\X", nullptr},
      {"root only", "HKEY_LOCAL_MACHINE\\", nullptr},
      {"unknown line", kKeyText, "[Software\\Other]\nnot a value\n"},
      {"value before a key", kKeyText, "\"Port\"=\"COM1\"\n"},
      {"bad escape", kKeyText, "[A]\n\"P\"=\"a\\nb\"\n"},
      {"short dword", kKeyText, "[A]\n\"N\"=dword:123\n"},
      {"unknown kind", kKeyText, "[A]\n\"N\"=str:x\n"},
      {"bad hex byte", kKeyText, "[A]\n\"N\"=hex:01,2g\n"},
      {"continued past the end", kKeyText, "[A]\n\"N\"=hex:01,\\\n"},
      {"export header after a key", kKeyText, "[A]\nREGEDIT4\n"},
      {"open quote", kKeyText, "[A]\n\"N\"=\"x\n"},
      {"key twice", kKeyText, "[A]\n\n[a]\n"},
      {"value twice", kKeyText, "[A]\n\"N\"=\"1\"\n\"n\"=\"2\"\n"},
  };
  for (const auto& c : cases) {
    HermeticEnv env;
    const std::string file = env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg";
    if (c.fileBefore) WriteFile(file, c.fileBefore);
    NamedPort port;
    EXPECT_EQ(StoreError(port, false, c.keyText), kErrStore) << c.why;
    if (c.fileBefore) {
      EXPECT_EQ(ReadFile(file), c.fileBefore) << c.why;
    } else {
      EXPECT_FALSE(std::filesystem::exists(file)) << c.why;
    }
    EXPECT_EQ(FilesIn(env.ConfigDir() + "/tarvo"), c.fileBefore ? 1u : 0u)
        << c.why << ": a temporary file was left behind";
  }
}

TEST(SavePortSettings, FailsWith16WhenTheFolderOrFileCannotBeUsed) {
  HermeticEnv env;
  NamedPort port;
  // The settings folder is a plain file: nothing can be created under it.
  WriteFile(env.ConfigDir() + "/tarvo", "");
  EXPECT_EQ(StoreError(port, false, kKeyText), kErrStore);
  std::filesystem::remove(env.ConfigDir() + "/tarvo");
  // The store file is a folder: it cannot be read.
  std::filesystem::create_directories(env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg");
  EXPECT_EQ(StoreError(port, false, kKeyText), kErrStore);
  // An ini file in a folder that does not exist.
  EXPECT_EQ(StoreError(port, true, env.ConfigDir() + "/missing/port.ini"), kErrStore);
}

TEST(SavePortSettings, ATextThatWouldBreakTheFileIsRefusedNotWritten) {
  HermeticEnv env;
  const std::string file = env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg";
  NamedPort port;
  port.SetPort("COM3");
  port.SavePortSettings(false, kKeyText);
  const std::string before = ReadFile(file);

  port.SetPort("COM4\n[Software\\Evil]");
  EXPECT_EQ(StoreError(port, false, kKeyText), kErrStore);
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_EQ(StoreError(port, true, env.ConfigDir() + "/port.ini"), kErrStore);
  EXPECT_FALSE(std::filesystem::exists(env.ConfigDir() + "/port.ini"));
}

TEST(SavePortSettings, ReplacingTheFileKeepsItsPermissions) {
  HermeticEnv env;
  const std::string file = env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg";
  WriteFile(file, "");
  chmod(file.c_str(), 0640);
  NamedPort port;
  port.SavePortSettings(false, kKeyText);
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// A store file that is a link (as when the settings are kept elsewhere)
// stays a link; its target gets the settings and keeps its mode.
TEST(SavePortSettings, StoresThroughASymbolicLinkIntoItsTarget) {
  HermeticEnv env;
  const std::string target = env.ConfigDir() + "/elsewhere/settings.reg";
  const std::string link = env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg";
  WriteFile(target, "[Software\\Other]\n\"A\"=\"1\"\n");
  chmod(target.c_str(), 0600);
  std::filesystem::create_directories(env.ConfigDir() + "/tarvo");
  std::filesystem::create_symlink("../elsewhere/settings.reg", link);
  NamedPort port;
  port.SetPort("COM3");
  port.SavePortSettings(false, kKeyText);

  ASSERT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(std::filesystem::read_symlink(link), "../elsewhere/settings.reg");
  EXPECT_EQ(ReadFile(target),
            "[Software\\Other]\n\"A\"=\"1\"\n\n[Software\\TARVO\\ComPort]\n"
            "\"Port\"=\"COM3\"\n" +
                ValuesAfterPort("\n"));
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(FilesIn(env.ConfigDir() + "/elsewhere"), 1u) << "a temporary file was left behind";
}

// A store file kept in a folder shared by its users (daemon owns it, group
// dialout may write it) and reached through a link, as a station may keep it.
class SharedStoreTest : public ::testing::Test {
 protected:
  SharedStoreTest() {
    const std::string shared = env.ConfigDir() + "/shared";
    WriteFile(target, "[Software\\Other]\n\"A\"=\"1\"\n");
    std::filesystem::create_directories(env.ConfigDir() + "/tarvo");
    std::filesystem::create_symlink("../shared/station.reg",
                                    env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg");
    for (const std::string& folder : {env.Root(), env.ConfigDir(), env.ConfigDir() + "/tarvo"}) {
      chmod(folder.c_str(), 0755);
    }
    const User daemon = UserNamed("daemon", {"dialout"});
    dialout = daemon.groups.back();
    Own(shared, daemon.uid, dialout, 0770);
    Own(target, daemon.uid, dialout, 0660);
  }

  static void Own(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    ASSERT_EQ(chown(path.c_str(), uid, gid), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
  }

  // Owner, group and mode of the shared file.
  std::tuple<uid_t, gid_t, mode_t> Owner() const {
    struct stat info {};
    EXPECT_EQ(stat(target.c_str(), &info), 0);
    return {info.st_uid, info.st_gid, info.st_mode & 07777};
  }

  HermeticEnv env;
  const std::string target = env.ConfigDir() + "/shared/station.reg";
  gid_t dialout = 0;
};

TEST_F(SharedStoreTest, AStoreKeepsTheFilesOwnerGroupAndModeAndLetsEveryWriterStoreNext) {
  const User daemon = UserNamed("daemon", {"dialout"});
  const auto shared = std::make_tuple(daemon.uid, dialout, mode_t{0660});
  EXPECT_EQ(StoreErrorInChild("COM3"), 0) << "as root";
  EXPECT_EQ(Owner(), shared) << "root's store took the file over";
  // The owner, whose own group is another: the file stays its group's.
  EXPECT_EQ(StoreErrorInChild("COM4", daemon), 0) << "the owner cannot store after root";
  EXPECT_EQ(Owner(), shared) << "the owner's store gave the file his own group";
  EXPECT_NE(ReadFile(target).find("\"Port\"=\"COM4\""), std::string::npos);
  EXPECT_EQ(FilesIn(env.ConfigDir() + "/shared"), 1u) << "a file was left beside the store";
}

TEST_F(SharedStoreTest, AStoreThatCannotKeepTheFilesOwnerIsRefused) {
  // nobody may write the file through its group, but a replacement made by
  // nobody cannot be given daemon as its owner.
  const std::string before = ReadFile(target);
  const auto shared = Owner();
  EXPECT_EQ(StoreErrorInChild("COM5", UserNamed("nobody", {"dialout"})), kErrStore);
  EXPECT_EQ(ReadFile(target), before);
  EXPECT_EQ(Owner(), shared);
  EXPECT_EQ(FilesIn(env.ConfigDir() + "/shared"), 1u) << "a file was left beside the store";
  EXPECT_EQ(StoreErrorInChild("COM4", UserNamed("daemon", {"dialout"})), 0)
      << "the owner cannot store next";
}

// Only a regular file is read as a store: a link to anything else must
// neither block the store, nor read without end, nor wake a device.
TEST(SavePortSettings, AStoreFileThatIsNoRegularFileOrTooLargeIsRefused) {
  const struct {
    const char* what;
    void (*make)(const std::string& path);
  } cases[] = {
      {"FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
      {"endless device",
       [](const std::string& path) { std::filesystem::create_symlink("/dev/zero", path); }},
      {"file larger than any store",
       [](const std::string& path) {
         WriteFile(path, "[Software\\Other]\n" + std::string(2 << 20, ';') + "\n");
       }},
  };
  for (const auto& c : cases) {
    HermeticEnv env;
    std::filesystem::create_directories(env.ConfigDir() + "/tarvo");
    c.make(env.ConfigDir() + "/elsewhere");
    std::filesystem::create_symlink("../elsewhere",
                                    env.ConfigDir() + "/tarvo/HKEY_LOCAL_MACHINE.reg");
    EXPECT_EQ(StoreErrorInChild("COM3"), kErrStore) << c.what;
  }
}

// Two programs storing at once: each store reads, changes and replaces the
// file, and without a lock between programs one would lose the other's keys.
TEST(SavePortSettings, TwoProcessesStoringAtOnceLoseNoKey) {
  constexpr int kStores = 25;
  for (const bool toIniFile : {false, true}) {
    HermeticEnv env;
    const std::string file = toIniFile ? env.ConfigDir() + "/port.ini"
                                       : env.ConfigDir() + "/tarvo/HKEY_CURRENT_USER.reg";
    // Each store adds one key: a registry key of its own, or an ini section
    // named after the component.
    const auto storeKeys = [&](const std::string& prefix) {
      NamedPort port;
      for (int i = 0; i < kStores; ++i) {
        const std::string key = prefix + std::to_string(i);
        if (toIniFile) port.SetName(key);
        port.SavePortSettings(toIniFile, toIniFile ? file : "HKEY_CURRENT_USER\\" + key);
      }
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        storeKeys("Child");
      } catch (...) {
        _exit(1);
      }
      _exit(0);
    }
    EXPECT_NO_THROW(storeKeys("Parent"));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's stores failed";

    const std::string stored = ReadFile(file);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), '['), 2 * kStores)
        << (toIniFile ? "ini " : "registry ") << "keys were lost";
  }
}

TEST(SavePortSettings, IniTargetWritesTheComponentsSectionAndKeepsTheRest) {
  HermeticEnv env;
  const std::string file = env.ConfigDir() + "/port.ini";
  WriteFile(file, "; settings\n[Other]\nA = 1\n\n[ComPort]\nPort=COM9\nMine=yes\n\n[Last]\nB=2\n");
  NamedPort port;
  port.SetPort("COM3");
  port.SetPersistedGroups({pgBasic, pgBuffer});
  port.SavePortSettings(true, file);

  EXPECT_EQ(ReadFile(file),
            "; settings\n[Other]\nA = 1\n\n[ComPort]\nPort=COM3\nMine=yes\nBaudRate=19200\n"
            "StopBits=1\nDataBits=8\nParity=None\nFlowControl=None\nBuffer.OutputSize=1024\n"
            "Buffer.InputSize=1024\n\n[Last]\nB=2\n");
}

}  // namespace
