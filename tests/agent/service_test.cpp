// The agent as a service: a port held by another program or a device gone
// and back, the socket's group and its bad requests and idle clients, what the
// service manager is told, and a bad configuration.
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <sqlite3.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "serial/CPort.h"
#include "tests/agent/agent_fixture.h"

namespace {

using nlohmann::json;
using tarvo::test::AgentTest;
using tarvo::test::WaitFor;

const sign_link::PanelRecord kRow1 = {"5690", '3', '0'};

std::string OwnProcessName() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  return name + " (pid " + std::to_string(getpid()) + ")";
}

const json* FindEvent(const json& events, const std::string& kind) {
  for (const json& event : events)
    if (event["kind"] == kind) return &event;
  return nullptr;
}

TEST_F(AgentTest, APortHeldByAnotherProgramIsRecordedOnceAndRetriedUntilFree) {
  sim_.Start();
  auto held = std::make_unique<TComPort>();
  held->SetPort("COM3");
  held->SetEvents({});
  held->OpenPort();
  StartAgent();

  const json reply = Write({"row1=56.90:95:0"});
  held.reset();

  EXPECT_FALSE(reply["verified"]) << reply;
  EXPECT_NE(reply["problem"].get<std::string>().find("busy"), std::string::npos) << reply;
  ASSERT_TRUE(WaitShows(4, kRow1)) << agent_->Log();
  ASSERT_TRUE(WaitFor([&] { return agent_->CountEvents("port back") == 1; })) << agent_->Log();
  const json events = agent_->Events();
  EXPECT_EQ(agent_->CountEvents("port held"), 1u) << events;
  EXPECT_EQ((*FindEvent(events, "port held"))["detail"]["holder"], OwnProcessName());
}

TEST_F(AgentTest, AnUnpluggedDeviceIsRecordedAndTheSignPutRightWhenItIsBack) {
  StartAgent();
  WaitFirstRead();
  sign_.Unplug();

  const json reply = Write({"row1=56.90:95:0"});
  sign_.Replug();

  EXPECT_FALSE(reply["verified"]) << reply;
  ASSERT_TRUE(WaitShows(4, kRow1)) << agent_->Log();
  ASSERT_TRUE(WaitFor([&] { return agent_->CountEvents("port back") == 1; })) << agent_->Log();
  EXPECT_EQ(agent_->CountEvents("port lost"), 1u) << agent_->Events();
}

TEST_F(AgentTest, AUserOutsideTheSocketGroupIsRefused) {
  StartAgent();
  ASSERT_EQ(chmod(env_.Root().c_str(), 0755), 0);
  struct stat info{};
  ASSERT_EQ(stat(agent_->Socket().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0660u);
  EXPECT_EQ(info.st_gid, getgrnam("root")->gr_gid);
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);

  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(125);
    _exit(tarvo::test::ConnectUnix(agent_->Socket()) < 0 && errno == EACCES ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);

  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(AgentTest, BadRequestsGetAnErrorAndChangeNothing) {
  StartAgent();
  WaitFirstRead();
  sign_.ClearReceived();
  const std::string oversized(70 * 1024, 'x');

  for (const std::string& line :
       {std::string("not json\n"), std::string("{\"op\":\"launch\"}\n"), std::string("[1,2]\n"),
        std::string("{\"op\":\"write\",\"specs\":[\"row9=1.00\"]}\n"),
        std::string("{\"op\":\"write\",\"specs\":[\"row1=1.00\"],\"effective_at\":\"tomorrow\"}\n"),
        std::string("{\"op\":\"write\",\"brightness\":10}\n"), std::string("{\"op\":\"cancel\"}\n"), oversized}) {
    SCOPED_TRACE(line.substr(0, 60));
    const json reply = agent_->RequestLine(line);
    EXPECT_EQ(reply["ok"], false) << reply;
    EXPECT_TRUE(reply["error"].is_string()) << reply;
  }

  const json status = agent_->Request({{"op", "status"}});
  EXPECT_EQ(status["rev"], 0);
  EXPECT_TRUE(status["pending"].empty());
  EXPECT_EQ(sign_.ReceivedCount(), 0u);
}

TEST_F(AgentTest, SilentClientsAndTooManyClientsNeverHoldUpAChange) {
  StartAgent();
  std::vector<int> silent;
  for (size_t i = 0; i + 1 < 32; ++i) silent.push_back(tarvo::test::ConnectUnix(agent_->Socket()));
  // Half a request, never finished.
  (void)!send(silent[0], "{\"op\":", 6, MSG_NOSIGNAL);

  const int writer = tarvo::test::ConnectUnix(agent_->Socket());
  const int extra = tarvo::test::ConnectUnix(agent_->Socket());
  const json refused = json::parse(tarvo::test::Exchange(extra, "{\"op\":\"status\"}\n"), nullptr, false);
  const json written = json::parse(
      tarvo::test::Exchange(writer, json({{"op", "write"}, {"specs", {"row1=56.90:95"}}}).dump() + "\n"), nullptr,
      false);

  EXPECT_EQ(refused["ok"], false) << refused;
  EXPECT_TRUE(written["verified"]) << written;
  for (int fd : silent) close(fd);
  close(writer);
  close(extra);
}

// READY=1 once the state is loaded, while a silent sign is still being asked;
// the watchdog fed; STOPPING=1 at SIGTERM.
TEST_F(AgentTest, TheServiceManagerIsToldReadyWatchdogAndStopping) {
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.silent = true; });
  sim_.Start();
  const std::string path = env_.Root() + "/notify.sock";
  const int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::string said;
  const auto hear = [&](const std::string& what) {
    pollfd wait = {notify, POLLIN, 0};
    while (said.find(what) == std::string::npos && poll(&wait, 1, 20000) > 0) {
      char buffer[4096];
      const ssize_t n = recv(notify, buffer, sizeof buffer, 0);
      if (n > 0) said.append(buffer, static_cast<size_t>(n)).append("\n");
    }
    return said.find(what) != std::string::npos;
  };
  agent_ = std::make_unique<tarvo::test::AgentProcess>(env_.Root());

  agent_->Start({{"NOTIFY_SOCKET", path}, {"WATCHDOG_USEC", "200000"}}, false);

  ASSERT_TRUE(hear("READY=1")) << said << agent_->Log();
  EXPECT_NE(said.find("STATUS=rev 0"), std::string::npos) << said;
  // Seven attempts at each of ten panels: the read is far from done.
  EXPECT_LT(sign_.ReceivedCount(), 70u);
  EXPECT_TRUE(hear("WATCHDOG=1")) << said;
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_TRUE(hear("STOPPING=1")) << said;
  close(notify);
}

TEST_F(AgentTest, ASecondAgentOnTheSameStateIsRefusedAndTheFirstKeepsItsSocket) {
  StartAgent();
  WaitFirstRead();
  tarvo::test::AgentProcess second(env_.Root());

  second.Start({}, false);

  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Log().find("another tarvo-agent (pid " + std::to_string(agent_->Pid()) + ")"), std::string::npos)
      << second.Log();
  EXPECT_TRUE(agent_->Request({{"op", "status"}})["ok"]);
}

TEST_F(AgentTest, AFileThatIsNotASocketIsNeverRemoved) {
  std::ofstream(env_.Root() + "/agent.sock") << "keep me\n";
  tarvo::test::AgentProcess agent(env_.Root());

  agent.Start({}, false);

  EXPECT_EQ(agent.Wait(), 1);
  std::ifstream kept(env_.Root() + "/agent.sock");
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "keep me");
  EXPECT_NE(agent.Log().find("not a socket"), std::string::npos) << agent.Log();
}

// One request of each client a turn: a client that pipelines requests as
// fast as it can delays neither another client nor a change that comes due.
TEST_F(AgentTest, AFloodingClientHoldsUpNeitherOthersNorADueChange) {
  StartAgent();
  WaitFirstRead();
  Schedule({"row1=11.11:80:0"}, tarvo::test::NowMs() + 500);
  std::atomic<bool> flooding = true;
  std::atomic<bool> stop = false;
  std::thread flood([&] {
    const int fd = tarvo::test::ConnectUnix(agent_->Socket());
    std::string burst;
    for (int i = 0; i < 200; ++i) burst += "{\"op\":\"status\"}\n";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while (!stop && std::chrono::steady_clock::now() < end) {
      (void)!send(fd, burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      char buffer[65536];
      while (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
      }
    }
    flooding = false;
    close(fd);
  });

  const json status = agent_->Request({{"op", "status"}});
  const bool answeredDuringFlood = flooding;
  const bool shownDuringFlood = WaitFor([&] { return Shows(4, {"1111", '1', '0'}) || !flooding; }) && flooding;
  stop = true;
  flood.join();

  EXPECT_TRUE(status["ok"]) << status;
  EXPECT_TRUE(answeredDuringFlood);
  EXPECT_TRUE(shownDuringFlood) << agent_->Log();
}

TEST_F(AgentTest, IdleClientsAreLetGoSoOthersGetIn) {
  StartAgent({.clientTimeoutS = 1});
  std::vector<int> silent;
  for (size_t i = 0; i < 32; ++i) silent.push_back(tarvo::test::ConnectUnix(agent_->Socket()));

  EXPECT_TRUE(WaitFor([&] { return agent_->Request({{"op", "status"}}).value("ok", false); }));
  for (int fd : silent) close(fd);
}

TEST_F(AgentTest, AHalfClosedClientStillGetsItsReply) {
  StartAgent();
  const int fd = tarvo::test::ConnectUnix(agent_->Socket());
  const std::string request = json({{"op", "write"}, {"specs", {"row1=56.90:95"}}}).dump() + "\n";
  ASSERT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  shutdown(fd, SHUT_WR);

  const json reply = json::parse(tarvo::test::Exchange(fd, ""), nullptr, false);
  close(fd);

  EXPECT_TRUE(reply["verified"]) << reply;
}

// The service manager's STATUS follows the state, not only its events.
TEST_F(AgentTest, TheServiceStatusLineFollowsTheState) {
  sim_.Start();
  const std::string path = env_.Root() + "/notify.sock";
  const int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::string last;
  const auto hear = [&](const std::string& what) {
    pollfd wait = {notify, POLLIN, 0};
    while (last != what && poll(&wait, 1, 20000) > 0) {
      char buffer[4096];
      const ssize_t n = recv(notify, buffer, sizeof buffer, 0);
      const std::string said(buffer, n > 0 ? static_cast<size_t>(n) : 0);
      if (said.rfind("STATUS=", 0) == 0) last = said.substr(7);
    }
    return last == what;
  };
  agent_ = std::make_unique<tarvo::test::AgentProcess>(env_.Root());
  agent_->Start({{"NOTIFY_SOCKET", path}});

  Schedule({"row1=11.11:80:0"}, tarvo::test::NowMs() + 3600 * 1000);
  EXPECT_TRUE(hear("rev 0 verified, 1 pending")) << last;
  ASSERT_TRUE(Write({"row2=22.22:92:0"})["verified"]);
  EXPECT_TRUE(hear("rev 1 verified, 1 pending")) << last;
  close(notify);
}

// Damage an earlier agent or a crash may leave: one clear line naming the
// file, or the history shown around the damaged row.
TEST_F(AgentTest, AStoredValueThatCannotBeReadStopsTheStartNamingIt) {
  StartAgent();
  ASSERT_TRUE(Write({"row1=11.11:80:0"})["verified"]);
  ASSERT_EQ(agent_->Stop(), 0);
  const std::string database = agent_->StateDir() + "/agent.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "UPDATE events SET detail = '{not json' WHERE id = 1;"
                         "UPDATE agent_values SET value = '\"seven\"' WHERE key = 'state_rev';",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::filesystem::remove(agent_->LogPath());

  agent_->Start({}, false);

  EXPECT_EQ(agent_->Wait(), 1);
  const std::string log = agent_->Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find(database), std::string::npos) << log;
  EXPECT_NE(log.find("state_rev"), std::string::npos) << log;
  EXPECT_EQ(log.find("json.exception"), std::string::npos) << log;

  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE agent_values SET value = '1' WHERE key = 'state_rev';", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  agent_->Start();
  const json events = agent_->Events();
  ASSERT_FALSE(events.empty());
  EXPECT_TRUE(events[0]["detail"]["unreadable"].is_string()) << events;
  EXPECT_EQ(agent_->CountEvents("change accepted"), 1u);
}

TEST_F(AgentTest, AMalformedDatabaseIsRefusedNamingTheFile) {
  tarvo::test::AgentProcess agent(env_.Root());
  std::filesystem::create_directories(agent.StateDir());
  std::ofstream(agent.StateDir() + "/agent.db") << std::string(8192, 'x');

  agent.Start({}, false);

  EXPECT_EQ(agent.Wait(), 1);
  EXPECT_NE(agent.Log().find(agent.StateDir() + "/agent.db"), std::string::npos) << agent.Log();
}

TEST(AgentConfig, AFolderGivenAsTheConfigurationIsRefused) {
  tarvo::test::HermeticEnv env;
  tarvo::test::AgentProcess agent(env.Root());
  std::filesystem::remove(agent.Config());
  std::filesystem::create_directories(agent.Config());

  agent.Start({}, false);

  EXPECT_EQ(agent.Wait(), 1);
  EXPECT_NE(agent.Log().find(agent.Config() + ": "), std::string::npos) << agent.Log();
}

struct BadConfig {
  const char* line;
  const char* key;
};
void PrintTo(const BadConfig& config, std::ostream* out) { *out << config.line; }

class BadConfigTest : public ::testing::TestWithParam<BadConfig> {};

TEST_P(BadConfigTest, IsRefusedWithOneLineNamingTheKey) {
  tarvo::test::HermeticEnv env;
  tarvo::test::AgentProcess agent(env.Root());
  std::ofstream(agent.Config()) << GetParam().line << '\n';

  agent.Start({}, false);

  EXPECT_EQ(agent.Wait(), 1);
  const std::string log = agent.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find(agent.Config() + ": " + GetParam().key + ": "), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Agent, BadConfigTest,
                         ::testing::Values(BadConfig{"verify_interval_s = 0", "verify_interval_s"},
                                           BadConfig{"drift = \"fix\"", "drift"},
                                           BadConfig{"station = \"north gate\"", "station"},
                                           BadConfig{"colour = \"red\"", "colour"},
                                           BadConfig{"port = \"COM0\"", "port"},
                                           BadConfig{"port = \"COM03\"", "port"},
                                           BadConfig{"port = \"COM99999999999999999999\"", "port"},
                                           BadConfig{"port = \"/dev/../tmp/x\"", "port"},
                                           BadConfig{"port = \"/dev/\"", "port"},
                                           BadConfig{"socket_group = \"root\"\n[mqtt]\nurl = \"http://broker\"", "mqtt.url"},
                                           BadConfig{"socket_group = \"root\"\n[mqtt]\nurl = \"mqtt://b\"\nkeepalive_s = 1",
                                                     "mqtt.keepalive_s"}),
                         [](const auto& param) {
                           std::string name = param.param.key;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name + "_" + std::to_string(param.index);
                         });

}  // namespace
