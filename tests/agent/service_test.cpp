// The agent as a service: a port held by another program or a device gone
// and back, the socket's group and its bad requests and idle clients, what the
// service manager is told, and a bad configuration.
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <fstream>

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
                                           BadConfig{"socket_group = \"root\"\n[mqtt]\nurl = \"http://broker\"", "mqtt.url"},
                                           BadConfig{"socket_group = \"root\"\n[mqtt]\nurl = \"mqtt://b\"\nkeepalive_s = 1",
                                                     "mqtt.keepalive_s"}),
                         [](const auto& param) {
                           std::string name = param.param.key;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

}  // namespace
