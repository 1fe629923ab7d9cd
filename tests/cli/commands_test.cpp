// tarvo-cli as a script runs it, against simulated signs on pseudo-terminals:
// each command's output and exit status, the journal, and the ways a port or
// a sign lets the command down.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "serial/CPort.h"
#include "sim/sign_simulator.h"
#include "tests/cli/cli_process.h"
#include "tests/support/hermetic_env.h"
#include "tests/support/wait_for.h"

namespace {

using nlohmann::json;
using tarvo::test::CliProcess;
using tarvo::test::CliResult;
using tarvo::test::RunCli;

// Every failure is one line on stderr that starts with the program's name.
void ExpectOneErrorLine(const CliResult& result, const std::string& piece) {
  EXPECT_EQ(result.err.rfind("tarvo-cli: ", 0), 0u) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_NE(result.err.find(piece), std::string::npos) << result.err;
}

json Document(const CliResult& result) {
  const json document = json::parse(result.out, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << result.out << result.err;
  return document;
}

size_t FramesReceived(const sign_sim::SimSign& sign) {
  size_t frames = 0;
  for (const std::string& message : sign.Received()) frames += message[0] == 'W' ? 1 : 0;
  return frames;
}

// The process as a busy port names it: "name (pid N)".
std::string ProcessName(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name + " (pid " + std::to_string(pid) + ")";
}

std::string OwnProcessName() { return ProcessName(getpid()); }

class CliTest : public ::testing::Test {
 protected:
  CliTest() : sim_(env_.ComDir()) {}

  sign_sim::SimSign& Sign(const std::string& name) {
    sign_sim::SimSign& sign = sim_.AddSign(name);
    sim_.Start();
    return sign;
  }
  // A port that the test holds open, as another program would.
  std::unique_ptr<TComPort> Hold(const std::string& name) {
    auto port = std::make_unique<TComPort>();
    port->SetPort(name);
    port->SetEvents({});
    port->OpenPort();
    return port;
  }
  std::string JournalPath() const { return env_.StateDir() + "/tarvo/journal.jsonl"; }
  // The journal's records of one stage: "outcome" or "intent".
  std::vector<json> Journal(const std::string& stage = "outcome") const {
    std::vector<json> lines;
    std::ifstream file(JournalPath());
    for (std::string line; std::getline(file, line);) {
      const json record = json::parse(line);
      if (record["stage"] == stage) lines.push_back(record);
    }
    return lines;
  }

  tarvo::test::HermeticEnv env_;
  sign_sim::SignSimulator sim_;
};

TEST_F(CliTest, HelpListsTheExitStatusesAndEndsWithExamples) {
  const CliResult help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Exit status:\n  0    done"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("  3    a port error"), std::string::npos) << help.out;
  EXPECT_NE(help.out.rfind("Examples:\n  tarvo-cli "), std::string::npos) << help.out;
  EXPECT_EQ(RunCli({"--version"}).out.rfind("tarvo-cli ", 0), 0u);
  const CliResult readHelp = RunCli({"read", "--help"});
  EXPECT_NE(readHelp.out.find("Options anywhere"), std::string::npos) << readHelp.out;
  EXPECT_NE(readHelp.out.find("--timeout MS"), std::string::npos) << readHelp.out;
}

TEST_F(CliTest, PortsTellsEachPortsStateWithoutSendingAByte) {
  sign_sim::SimSign& free = Sign("COM3");
  sign_sim::SimSign& held = sim_.AddSign("COM4");
  const auto holder = Hold("COM4");
  std::ofstream(env_.ComDir() + "/COM7") << "a file";
  std::filesystem::create_symlink(env_.ComDir() + "/gone", env_.ComDir() + "/COM8");

  const CliResult result = RunCli({"ports", "--json"});

  ASSERT_EQ(result.status, 0) << result.err;
  const json ports = Document(result)["ports"];
  ASSERT_EQ(ports.size(), 4u) << ports;
  EXPECT_EQ(ports[0], json({{"port", "COM3"}, {"device", free.LinkPath()}, {"state", "free"}}));
  EXPECT_EQ(ports[1]["state"], "busy");
  EXPECT_EQ(ports[1]["holder"], OwnProcessName());
  EXPECT_EQ(ports[2]["state"], "not a terminal");
  EXPECT_EQ(ports[3]["state"], "no device");
  EXPECT_EQ(free.ReceivedCount() + held.ReceivedCount(), 0u);
}

TEST_F(CliTest, FindProbesEveryPortAndUsesTheHighestNumberThatAnswers) {
  Sign("COM3");
  sim_.AddSign("COM12");
  sim_.AddSign("COM5").UpdateFaults([](sign_sim::SignFaults& f) { f.silent = true; });
  std::ofstream(env_.ComDir() + "/COM7") << "a file";

  const CliResult result = RunCli({"find", "--json"});

  ASSERT_EQ(result.status, 0) << result.err;
  const json found = Document(result);
  EXPECT_EQ(found["used"], "COM12");
  std::map<std::string, std::string> results;
  for (const json& port : found["ports"]) results[port["port"]] = port["result"];
  EXPECT_EQ(results,
            (std::map<std::string, std::string>{
                {"COM12", "sign"}, {"COM3", "sign"}, {"COM5", "silent"}, {"COM7", "not opened"}}));
}

TEST_F(CliTest, NoSignFoundIsExitOneAndSaysWhyForEveryPort) {
  Sign("COM5").UpdateFaults([](sign_sim::SignFaults& f) { f.silent = true; });
  std::ofstream(env_.ComDir() + "/COM7") << "a file";

  const CliResult result = RunCli({"read"});

  EXPECT_EQ(result.status, 1);
  ExpectOneErrorLine(result, "no sign found: COM5 (" + env_.ComDir() + "/COM5) silent, COM7 (" +
                                 env_.ComDir() + "/COM7) not a terminal");
}

TEST_F(CliTest, ReadGivesTheTenPanelsInAddressOrderAndAPanelWithoutAProperReplyAsNull) {
  sign_sim::SimSign& sign = Sign("COM3");
  sign.SetPanel(8, {"1234", '2', '1'});
  // Panel 0, read first, gets a wrong check code on all seven attempts.
  sign.UpdateFaults([](sign_sim::SignFaults& f) { f.wrongFirstCheckDigit = 7; });

  const CliResult result = RunCli({"read", "--port", "COM3", "--json"});

  EXPECT_EQ(result.status, 1) << "a panel did not answer properly";
  ExpectOneErrorLine(result, "no proper answer from panel 0");
  const json read = Document(result);
  EXPECT_EQ(read["error"]["status"], 1) << "a failure's document says so";
  EXPECT_EQ(read["port"], "COM3");
  EXPECT_EQ(read["device"], sign.LinkPath());
  std::vector<int> addresses;
  for (const json& panel : read["panels"]) addresses.push_back(panel["address"]);
  EXPECT_EQ(addresses, (std::vector<int>{0, 1, 2, 3, 4, 8, 9, 10, 11, 12}));
  EXPECT_EQ(read["panels"][0], json({{"address", 0},
                                     {"row", 5},
                                     {"half", 1},
                                     {"ok", false},
                                     {"record", nullptr},
                                     {"price", nullptr},
                                     {"grade", nullptr},
                                     {"inscription", nullptr}}));
  EXPECT_EQ(read["panels"][5], json({{"address", 8},
                                     {"row", 5},
                                     {"half", 2},
                                     {"ok", true},
                                     {"record", "123421"},
                                     {"price", "12.34"},
                                     {"grade", "92"},
                                     {"inscription", 1}}));

  const CliResult human = RunCli({"read", "--port", "COM3"});
  EXPECT_EQ(human.status, 0) << human.err;
  EXPECT_NE(human.out.find("    8    5     2  12.34  92   1\n"), std::string::npos) << human.out;
}

TEST_F(CliTest, WriteSendsTheNamedPanelsVerifiesThemAndJournalsBeforeAskedAndAfter) {
  sign_sim::SimSign& sign = Sign("COM3");
  sign.SetPanel(0, {"1111", '1', '2'});

  const CliResult result =
      RunCli({"write", "--port", "COM3", "row1=45.60:95:1", "panel0=-:DT", "--json"});

  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(sign.Panel(4), (sign_link::PanelRecord{"4560", '3', '1'}));
  EXPECT_EQ(sign.Panel(12), (sign_link::PanelRecord{"4560", '3', '1'}));
  EXPECT_EQ(sign.Panel(0), (sign_link::PanelRecord{"----", '5', '2'})) << "inscription kept";
  EXPECT_EQ(FramesReceived(sign), 3u) << "panels not named are not written";
  const json written = Document(result);
  EXPECT_EQ(written["verified"], true);
  ASSERT_EQ(written["panels"].size(), 3u);
  EXPECT_EQ(written["panels"][0]["address"], 0) << "frames go out in the window's order";
  EXPECT_EQ(written["panels"][0]["acknowledged"], true);

  const std::vector<json> journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0]["command"], "write");
  EXPECT_EQ(journal[0]["port"], "COM3");
  EXPECT_EQ(journal[0]["user"], "root");
  EXPECT_EQ(journal[0]["exit"], 0);
  EXPECT_EQ(journal[0]["verified"], true);
  EXPECT_EQ(journal[0]["before"][0]["price"], "11.11");
  EXPECT_EQ(journal[0]["after"][0]["price"], "--.--");
  EXPECT_EQ(journal[0]["panels"][1]["asked"]["price"], "45.60");
  EXPECT_EQ(std::string(journal[0]["time"]).size(), std::string("2026-12-08T09:30:00.123Z").size());
}

// Inscription code "9" reads as inscription 1; the file of a read gives the
// sign back unchanged.
TEST_F(CliTest, AValueAReadCannotShowSurvivesTheRoundTripThroughTheFile) {
  sign_sim::SimSign& sign = Sign("COM3");
  sign.SetPanel(8, {"1234", '2', '9'});
  const CliResult read = RunCli({"read", "--port", "COM3", "--json"});
  const std::string file = env_.Root() + "/sign.json";
  std::ofstream(file) << read.out;

  const CliResult result = RunCli({"write", "--port", "COM3", "--file", file});

  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(FramesReceived(sign), 0u);
  EXPECT_EQ(sign.Panel(8), (sign_link::PanelRecord{"1234", '2', '9'}));
}

TEST_F(CliTest, WriteFromTheFileOfAReadSendsOnlyThePanelsThatDiffer) {
  sign_sim::SimSign& sign = Sign("COM3");
  json read = json::parse(RunCli({"read", "--port", "COM3", "--json"}).out);
  read["panels"][6]["price"] = "45.60";  // panel 9
  read["panels"][6]["grade"] = "98";
  const std::string file = env_.Root() + "/sign.json";
  std::ofstream(file) << read.dump();

  const CliResult result = RunCli({"write", "--port", "COM3", "--file", file});

  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(FramesReceived(sign), 1u);
  EXPECT_EQ(sign.Panel(9), (sign_link::PanelRecord{"4560", '4', '0'}));
}

TEST_F(CliTest, ARefusedWriteIsExitOneWithThePanelUnverifiedInOutputAndJournal) {
  sign_sim::SimSign& sign = Sign("COM3");
  sign.UpdateFaults([](sign_sim::SignFaults& f) { f.refusedWrites = 3; });  // every attempt

  const CliResult result = RunCli({"write", "--port", "COM3", "panel0=12.34:92:1", "--json"});

  EXPECT_EQ(result.status, 1);
  ExpectOneErrorLine(result, "did not confirm");
  const json written = Document(result);
  EXPECT_EQ(written["verified"], false);
  EXPECT_EQ(written["panels"][0]["acknowledged"], false);
  EXPECT_EQ(written["panels"][0]["verified"], false);
  EXPECT_EQ(FramesReceived(sign), 3u) << "three attempts, one frame each";
  const std::vector<json> journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0]["verified"], false);
  EXPECT_EQ(journal[0]["exit"], 1);
}

TEST_F(CliTest, TheCablePulledMidWriteIsExitThreeAndTheJournalKeepsWhatWasAcknowledged) {
  sign_sim::SimSign& sign = Sign("COM3");
  // Slow answers leave the test time to pull the cable between two frames.
  sign.UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 20; });

  CliProcess write({"write", "--port", "COM3", "row5=11.11", "row4=22.22", "row3=33.33"});
  ASSERT_TRUE(tarvo::test::WaitFor([&] { return FramesReceived(sign) >= 2; }));
  sign.Unplug();
  const CliResult result = write.Finish();

  EXPECT_EQ(result.status, 3);
  ExpectOneErrorLine(result, "COM3 (" + sign.LinkPath() + "): the device went away");
  const std::vector<json> journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0]["exit"], 3);
  EXPECT_EQ(journal[0]["verified"], false);
  EXPECT_EQ(journal[0]["after"], nullptr);
  const json& panels = journal[0]["panels"];
  ASSERT_EQ(panels.size(), 6u);
  EXPECT_EQ(panels[0]["acknowledged"], true) << "acknowledged before the pull";
  EXPECT_EQ(panels[5]["acknowledged"], false) << "never sent";
}

TEST_F(CliTest, AStopSignalEndsAWriteAfterTheFrameOnTheLineWithAReadBackAndARecord) {
  Sign("COM9");
  for (const auto& [signal, status, port] :
       {std::tuple{SIGTERM, 143, "COM3"}, std::tuple{SIGINT, 130, "COM4"}}) {
    sign_sim::SimSign& sign = sim_.AddSign(port);
    sign.UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 20; });
    CliProcess write({"write", "--port", port, "row1=11.11", "row2=22.22", "row3=33.33",
                      "row4=44.44", "row5=55.55"});
    ASSERT_TRUE(tarvo::test::WaitFor([&] { return FramesReceived(sign) >= 2; }));
    write.Signal(signal);
    const CliResult result = write.Finish();

    EXPECT_EQ(result.status, status);
    ExpectOneErrorLine(result, "stopped by SIG");
    EXPECT_NE(result.err.find("reached the sign and verified: panel 0, 8"), std::string::npos)
        << result.err;
    EXPECT_LT(FramesReceived(sign), 10u) << "no frame after the one on the line";
    const json outcome = Journal().back();
    EXPECT_EQ(outcome["exit"], status);
    EXPECT_NE(outcome["after"], nullptr) << "read back";
    size_t sent = 0;
    for (const json& panel : outcome["panels"]) sent += panel["sent"] == true ? 1 : 0;
    EXPECT_EQ(sent, FramesReceived(sign));
  }
}

TEST_F(CliTest, AKilledWriteLeavesItsIntentAsOutcomeUnknownAndTheLineFreeForTheNext) {
  sign_sim::SimSign& sign = Sign("COM3");
  sign.UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 20; });
  CliProcess write({"write", "--port", "COM3", "row1=11.11", "row2=22.22"});
  ASSERT_TRUE(tarvo::test::WaitFor([&] { return FramesReceived(sign) >= 1; }));
  write.Signal(SIGKILL);
  EXPECT_EQ(write.Finish().status, 128 + SIGKILL);

  const CliResult journal = RunCli({"journal"});
  EXPECT_NE(journal.out.find("COM3  write  3=22.22  11=22.22  4=11.11  12=11.11  outcome unknown"),
            std::string::npos)
      << journal.out;
  EXPECT_EQ(Document(RunCli({"journal", "--json"}))["entries"][0]["outcome"], "unknown");
  const CliResult next = RunCli({"write", "--port", "COM3", "row1=11.11"});
  EXPECT_EQ(next.status, 0) << next.err;
  const std::string shown = RunCli({"journal"}).out;
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 2) << shown;
}

TEST_F(CliTest, ABusyPortIsExitThreeNamingTheProcessThatHoldsIt) {
  sign_sim::SimSign& sign = Sign("COM3");
  const auto holder = Hold("COM3");

  const CliResult result = RunCli({"read", "--port", "COM3"});

  EXPECT_EQ(result.status, 3);
  ExpectOneErrorLine(result, "COM3 (" + sign.LinkPath() + "): busy: held by " + OwnProcessName());
}

// Another program on the line with TIOCEXCL alone, no lock (as screen and
// cu hold a line); it ends without clearing the flag when `Release` is
// called, as a killed holder does.
class ExclusiveHolder {
  static constexpr int kReadyFd = 100;
  static constexpr int kWaitFd = 101;

 public:
  explicit ExclusiveHolder(const std::string& device) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(wait_, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      // Nothing of the test's but the two pipe ends: not the simulated
      // sign's end of the line either.
      dup2(ready[1], kReadyFd);
      dup2(wait_[0], kWaitFd);
      close_range(3, kReadyFd - 1, 0);
      close_range(kWaitFd + 1, ~0U, 0);
      const int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
      const char held = fd >= 0 && ioctl(fd, TIOCEXCL) == 0 ? 'y' : 'n';
      (void)!write(kReadyFd, &held, 1);
      char byte;
      (void)!read(kWaitFd, &byte, 1);
      _exit(0);
    }
    close(ready[1]);
    close(wait_[0]);
    char held = 'n';
    (void)!read(ready[0], &held, 1);
    close(ready[0]);
    if (held != 'y') throw std::runtime_error("the holder could not take the line");
  }
  ~ExclusiveHolder() { Release(); }
  pid_t Pid() const { return pid_; }
  void Release() {
    if (pid_ <= 0) return;
    close(wait_[1]);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int wait_[2] = {-1, -1};
};

TEST_F(CliTest, ALineHeldExclusivelyIsBusyForPortsAndReadAndItsFlagIsStaleOnceTheHolderIsGone) {
  sign_sim::SimSign& sign = Sign("COM3");
  ExclusiveHolder holder(sign.TerminalPath());

  const CliResult ports = RunCli({"ports", "--json"});
  const CliResult busy = RunCli({"read", "--port", "COM3"});

  EXPECT_EQ(Document(ports)["ports"][0]["state"], "busy");
  EXPECT_EQ(Document(ports)["ports"][0]["holder"], ProcessName(holder.Pid()));
  EXPECT_EQ(busy.status, 3);
  ExpectOneErrorLine(busy, "busy: held by " + ProcessName(holder.Pid()));
  holder.Release();
  // Another user is refused by the kernel itself, and told why.
  ASSERT_EQ(chmod(sign.TerminalPath().c_str(), 0666), 0);
  ASSERT_EQ(chmod(env_.Root().c_str(), 0755), 0);
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const CliResult asNobody = RunCli({"read", "--port", "COM3"}, nobody->pw_uid);
  EXPECT_EQ(asNobody.status, 3);
  ExpectOneErrorLine(asNobody, "or left so by one that was killed");
  const CliResult stale = RunCli({"read", "--port", "COM3"});
  EXPECT_EQ(stale.status, 0) << stale.err;
}

TEST_F(CliTest, APortWithoutAccessSaysWhichGroupToJoin) {
  sign_sim::SimSign& sign = Sign("COM3");
  // As the sign's adapter would be: root's, group dialout, for owner and group.
  const group* dialout = getgrnam("dialout");
  ASSERT_NE(dialout, nullptr);
  ASSERT_EQ(chown(sign.TerminalPath().c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(chmod(sign.TerminalPath().c_str(), 0660), 0);
  ASSERT_EQ(chmod(env_.Root().c_str(), 0755), 0);
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);

  const CliResult ports = RunCli({"ports", "--json"}, nobody->pw_uid);
  const CliResult read = RunCli({"read", "--port", "COM3"}, nobody->pw_uid);

  ASSERT_EQ(ports.status, 0) << ports.err;
  EXPECT_EQ(Document(ports)["ports"][0]["state"], "no access");
  EXPECT_EQ(Document(ports)["ports"][0]["group"], "dialout");
  EXPECT_EQ(read.status, 3);
  ExpectOneErrorLine(
      read, "COM3 (" + sign.LinkPath() + "): no access; add the user to group dialout");
  EXPECT_EQ(sign.ReceivedCount(), 0u);
}

struct BadLine {
  const char* name;
  std::vector<std::string> args;
  const char* said;
};

const BadLine kBadLines[] = {
    {"PriceOfOneDecimal", {"write", "row1=4.5"}, "a price is"},
    {"PriceOfThreeWholeDigits", {"write", "row1=123.45"}, "a price is"},
    {"UnknownGrade", {"write", "row1=12.34:91"}, "a grade is"},
    {"RowZero", {"write", "row0=12.34"}, "a row is"},
    {"RowSix", {"write", "row6=12.34"}, "a row is"},
    {"PanelFive", {"write", "panel5=12.34"}, "a panel is"},
    {"InscriptionFour", {"write", "row1=12.34:92:4"}, "an inscription is"},
    {"MalformedFile", {"write", "--file", "@malformed"}, "not a JSON document"},
    {"MismatchedFile", {"write", "--file", "@mismatched"}, "is in row 5"},
    {"MissingFile", {"write", "--file", "/nonexistent/sign.json"}, "cannot read --file"},
    {"NothingToWrite", {"write"}, "write needs SPEC"},
    {"BrightnessTen", {"brightness", "10"}, "give auto or a level 0..9"},
    {"TimeoutZero", {"read", "--timeout", "0"}, "--timeout"},
    {"FileIsAFolder", {"write", "--file", "@"}, "Is a directory"},
    {"FileIsEndless", {"write", "--file", "/dev/zero"}, "larger than 1 MB"},
    {"EmptyFile", {"write", "--file", "@empty"}, "no panel to write"},
    {"FileNameWithANewline", {"write", "--file", "@new\nline"}, "--file \""},
    {"PortWithALeadingZero", {"read", "--port", "COM03"}, "bad --port \"COM03\": give COMn"},
    {"PortOutsideDev", {"read", "--port", "/tmp/x/COM3"}, "bad --port"},
    {"PortLeavingDev", {"read", "--port", "/dev/pts/../null"}, "bad --port"},
    {"PortWithANewline", {"read", "--port", "COM3\nCOM4"}, "bad --port \"COM3\\nCOM4\""},
    {"PortForPorts", {"ports", "--port", "COM3"}, "--port is for read, write and brightness"},
    {"TimeoutNotANumber", {"read", "--timeout", "abc"}, "bad --timeout \"abc\": give the wait"},
    {"NoCommand", {"--json"}, "no command given"},
    {"UnexpectedWordWithANewline", {"read", "a\nb"}, "a\\nb"},
    {"UnknownVerb", {"erase"}, "unknown command \"erase\"; the commands are ports, find"},
};

class BadLineTest : public CliTest, public ::testing::WithParamInterface<BadLine> {};

TEST_P(BadLineTest, IsExitTwoBeforeAnyPortIsOpened) {
  sign_sim::SimSign& sign = Sign("COM3");
  std::ofstream(env_.Root() + "/malformed") << "{\"panels\": [";
  std::ofstream(env_.Root() + "/mismatched") << R"({"panels":[{"address":0,"row":1}]})";
  std::ofstream(env_.Root() + "/empty") << R"({"panels":[]})";
  std::vector<std::string> args = GetParam().args;
  for (std::string& arg : args) {
    if (arg[0] == '@') arg = env_.Root() + "/" + arg.substr(1);
  }

  args.push_back("--json");
  const CliResult result = RunCli(args);

  EXPECT_EQ(result.status, 2);
  ExpectOneErrorLine(result, GetParam().said);
  EXPECT_EQ(Document(result)["error"]["status"], 2) << "one JSON document also on failure";
  EXPECT_EQ(sign.ReceivedCount(), 0u) << "not even find's probe";
  EXPECT_FALSE(std::filesystem::exists(JournalPath()));
}

INSTANTIATE_TEST_SUITE_P(Refused, BadLineTest, ::testing::ValuesIn(kBadLines),
                         [](const auto& param) { return std::string(param.param.name); });

// Each failure with --json: one document whose "error" says what stderr says.
// The limit on the file's size plays a full disk: the intent fits, the
// outcome does not.
TEST_F(CliTest, AJournalFullAfterTheSignWasWrittenKeepsEveryRecordWholeAndSaysSo) {
  sign_sim::SimSign& sign = Sign("COM3");
  ASSERT_EQ(RunCli({"write", "--port", "COM3", "row1=45.60"}).status, 0);
  std::ifstream first(JournalPath());
  std::string intent, outcome;
  std::getline(first, intent);
  std::getline(first, outcome);
  const auto size = std::filesystem::file_size(JournalPath());
  tarvo::test::ChildSetup full;
  full.fileSizeLimit = size + intent.size() + outcome.size() / 2;

  const CliResult verified = RunCli({"write", "--port", "COM3", "row1=45.70"}, full);
  sign.UpdateFaults([](sign_sim::SignFaults& f) { f.refusedWrites = 3; });
  const CliResult refused = RunCli({"write", "--port", "COM3", "row2=45.80"}, full);

  EXPECT_EQ(verified.status, 4);
  ExpectOneErrorLine(verified, "the record of this write was not written");
  EXPECT_EQ(sign.Panel(4).price, "4570");
  EXPECT_EQ(refused.status, 1) << "the sign's outcome comes first";
  std::ifstream file(JournalPath());
  for (std::string line; std::getline(file, line);)
    EXPECT_FALSE(json::parse(line, nullptr, false).is_discarded()) << "a torn record: " << line;
  const CliResult journal = RunCli({"journal"});
  EXPECT_EQ(journal.err, "");
  EXPECT_NE(journal.out.find("4=45.70  12=45.70  outcome unknown"), std::string::npos)
      << journal.out;
}

// The program's peak memory for a long journal is that for a short one: held
// as one document, the records would take many times their size.
TEST_F(CliTest, TheJournalIsStreamedHoweverLongItGrows) {
  Sign("COM3");
  ASSERT_EQ(RunCli({"write", "--port", "COM3", "row1=45.60"}).status, 0);
  // AddressSanitizer's quarantine holds freed memory back from reuse: without
  // it the peak is the program's own, in every build.
  tarvo::test::ChildSetup measured;
  measured.set = {"ASAN_OPTIONS=quarantine_size_mb=0"};
  const CliResult shortJournal = RunCli({"journal", "--json"}, measured);
  std::ifstream first(JournalPath());
  std::string intent, outcome;
  std::getline(first, intent);
  std::getline(first, outcome);
  constexpr int kRecords = 1000;
  {
    std::ofstream journal(JournalPath(), std::ios::app);
    for (int i = 0; i < kRecords; ++i) journal << outcome << '\n';
  }

  const CliResult longJournal = RunCli({"journal", "--json"}, measured);

  ASSERT_EQ(longJournal.status, 0) << longJournal.err;
  EXPECT_EQ(std::count(longJournal.out.begin(), longJournal.out.end(), '\n'), 1);
  EXPECT_EQ(Document(longJournal)["entries"].size(), kRecords + 1u);
  const long recordsKb = static_cast<long>(kRecords * outcome.size() / 1024);
  EXPECT_LT(longJournal.maxRssKb - shortJournal.maxRssKb, recordsKb)
      << "peak memory " << shortJournal.maxRssKb << " kB, then " << longJournal.maxRssKb
      << " kB for " << recordsKb << " kB of records more";
}

TEST_F(CliTest, EveryFailureWithJsonIsOneDocumentNamingThePort) {
  sign_sim::SimSign& sign = Sign("COM3");
  const auto holder = Hold("COM3");

  const CliResult busy = RunCli({"read", "--port", "COM3", "--json"});
  const CliResult noDevice = RunCli({"write", "--json", "--port", "COM8", "row1=45.60"});
  const CliResult noneOpened = RunCli({"brightness", "auto", "--json"});

  for (const CliResult* result : {&busy, &noDevice, &noneOpened}) {
    EXPECT_EQ(result->status, 3);
    const json error = Document(*result)["error"];
    EXPECT_EQ(error["status"], 3);
    EXPECT_EQ("tarvo-cli: " + std::string(error["message"]) + "\n", result->err);
  }
  EXPECT_EQ(Document(busy)["error"]["port"], "COM3");
  EXPECT_EQ(Document(busy)["error"]["device"], sign.LinkPath());
  EXPECT_EQ(Document(noDevice)["error"]["port"], "COM8");
  EXPECT_NE(noneOpened.err.find("no sign found: no port could be opened: COM3 ("), std::string::npos)
      << "every port busy: a port error, not a silent sign";
  EXPECT_EQ(Document(noneOpened)["error"]["port"], nullptr);
}

TEST_F(CliTest, AFailedOutputIsAnErrorUnlessTheSignWasChanged) {
  Sign("COM3");
  tarvo::test::ChildSetup full;
  full.stdoutFile = "/dev/full";
  tarvo::test::ChildSetup closed;
  closed.stdoutReaderGone = true;

  const CliResult read = RunCli({"read", "--port", "COM3", "--json"}, full);
  const CliResult write = RunCli({"write", "--port", "COM3", "row1=45.60"}, full);
  const CliResult piped = RunCli({"write", "--port", "COM3", "row1=45.70", "--json"}, closed);

  EXPECT_EQ(read.status, 4);
  ExpectOneErrorLine(read, "cannot write the output: No space left on device");
  EXPECT_EQ(write.status, 0) << "the sign's outcome, which the journal holds";
  ExpectOneErrorLine(write, "cannot write the output");
  EXPECT_EQ(piped.status, 0) << "not a death by SIGPIPE";
  ExpectOneErrorLine(piped, "Broken pipe");
  EXPECT_EQ(Journal().size(), 2u);
}

// glibc takes LANGUAGE only under a locale other than "C"; C.UTF-8 is on
// every machine.
TEST_F(CliTest, HumanOutputFollowsTheLocaleAndJsonNever) {
  sign_sim::SimSign& sign = Sign("COM3");
  tarvo::test::ChildSetup russian;
  russian.unset = {"LC_ALL", "LC_MESSAGES"};
  russian.set = {"LANG=C.UTF-8", "LANGUAGE=ru"};

  const CliResult human = RunCli({"brightness", "3", "--port", "COM3"}, russian);
  const CliResult refused = RunCli({"brightness", "10"}, russian);
  const CliResult machine = RunCli({"brightness", "10", "--json"}, russian);
  // The agent's verbs too, here without an agent.
  const CliResult noAgent = RunCli({"status"}, russian);
  const CliResult noAgentMachine = RunCli({"status", "--json"}, russian);

  EXPECT_EQ(human.out, "COM3 (" + sign.LinkPath() + "): установлена ручная яркость: 3\n");
  ExpectOneErrorLine(refused, "неверная яркость \"10\"");
  ExpectOneErrorLine(machine, "bad brightness \"10\"");
  EXPECT_EQ(Document(machine)["error"]["message"], "bad brightness \"10\": give auto or a level 0..9");
  ExpectOneErrorLine(noAgent, "не отвечает ни один агент");
  ExpectOneErrorLine(noAgentMachine, "no agent answers at");
}

TEST_F(CliTest, BrightnessIsConfirmedByTheEchoAndJournalled) {
  sign_sim::SimSign& sign = Sign("COM3");
  // The line's own time: find's probe must leave nothing of its reply behind.
  sign.SetLineRate(19200);

  const CliResult manual = RunCli({"brightness", "7"});  // finds the sign itself
  EXPECT_EQ(manual.status, 0) << manual.err;
  EXPECT_EQ(manual.out, "COM3 (" + sign.LinkPath() + "): manual brightness set: 7\n");
  EXPECT_EQ(sign.Brightness(), 7);
  EXPECT_EQ(RunCli({"--port", "COM3", "brightness", "auto"}).status, 0) << "options anywhere";
  EXPECT_EQ(sign.Brightness(), sign_sim::kBrightnessAutomatic);

  sign.UpdateFaults([](sign_sim::SignFaults& f) { f.wrongBrightnessEcho = true; });
  const CliResult wrong = RunCli({"brightness", "4", "--port", "COM3"});
  EXPECT_EQ(wrong.status, 1);
  ExpectOneErrorLine(wrong, "the sign did not echo LM4");

  const std::vector<json> journal = Journal();
  ASSERT_EQ(journal.size(), 3u);
  EXPECT_EQ(journal[0]["level"], 7);
  EXPECT_EQ(journal[1]["level"], "auto");
  EXPECT_EQ(journal[2]["verified"], false);
  EXPECT_EQ(journal[2]["exit"], 1);
}

TEST_F(CliTest, TheJournalSkipsATornLastLineAndAWriteAfterItStaysWhole) {
  Sign("COM3");
  ASSERT_EQ(RunCli({"write", "--port", "COM3", "row1=45.60"}).status, 0);
  std::ofstream(JournalPath(), std::ios::app) << R"({"time":"2026-12-)";  // the power cut

  const CliResult torn = RunCli({"journal", "--json"});
  EXPECT_EQ(torn.status, 0);
  EXPECT_EQ(Document(torn)["entries"].size(), 1u);
  ExpectOneErrorLine(torn, "the last line is cut off");

  ASSERT_EQ(RunCli({"brightness", "auto", "--port", "COM3"}).status, 0);
  const CliResult after = RunCli({"journal"});
  EXPECT_EQ(after.status, 0);
  EXPECT_EQ(std::count(after.out.begin(), after.out.end(), '\n'), 2) << after.out;
  EXPECT_NE(after.out.find("COM3  brightness auto  verified  exit 0"), std::string::npos)
      << after.out;
  ExpectOneErrorLine(after, "line 3 is not a record");
}

// A folder under a file, a folder, no HOME: found before anything is sent.
TEST_F(CliTest, AJournalThatCannotBeWrittenIsExitThreeWithNothingSent) {
  sign_sim::SimSign& sign = Sign("COM3");
  const std::string blocker = env_.Root() + "/a-file";
  std::ofstream(blocker) << "";

  const CliResult underAFile =
      RunCli({"write", "--port", "COM3", "panel0=12.34", "--journal", blocker + "/journal.jsonl"});
  const CliResult aFolder =
      RunCli({"brightness", "3", "--port", "COM3", "--journal", env_.Root(), "--json"});
  tarvo::test::ChildSetup homeless;
  homeless.unset = {"HOME", "XDG_STATE_HOME"};
  const CliResult noHome = RunCli({"write", "--port", "COM3", "panel0=12.34"}, homeless);

  for (const CliResult* result : {&underAFile, &aFolder, &noHome}) {
    EXPECT_EQ(result->status, 3);
    ExpectOneErrorLine(*result, "nothing was sent to the sign");
  }
  EXPECT_NE(underAFile.err.find("Not a directory"), std::string::npos) << underAFile.err;
  EXPECT_EQ(Document(aFolder)["error"]["status"], 3);
  EXPECT_EQ(sign.ReceivedCount(), 0u);
}

}  // namespace
