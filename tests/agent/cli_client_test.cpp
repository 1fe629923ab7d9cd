// tarvo-cli as the agent's client: read, write and brightness go through a
// running agent (write --at schedules), status, schedule and history need
// one, --direct goes to the port and the agent sees drift.
#include <pwd.h>
#include <sys/stat.h>

#include "tests/agent/agent_fixture.h"
#include "tests/cli/cli_process.h"

namespace {

using nlohmann::json;
using tarvo::test::AgentTest;
using tarvo::test::CliResult;
using tarvo::test::RunCli;
using tarvo::test::WaitFor;

json Document(const CliResult& result) {
  const json document = json::parse(result.out, nullptr, false);
  EXPECT_TRUE(document.is_object()) << result.out << result.err;
  return document;
}

TEST_F(AgentTest, CliVerbsGoThroughTheAgent) {
  StartAgent();

  const CliResult write = RunCli({"write", "row1=56.90:95:0"});
  const CliResult brightness = RunCli({"brightness", "7"});
  const CliResult read = RunCli({"read", "--json"});
  const CliResult later = RunCli({"write", "row2=11.11:80", "--at", "2099-12-09T06:00:00+03:00", "--json"});
  const CliResult schedule = RunCli({"schedule", "--json"});
  const CliResult cancel = RunCli({"schedule", "cancel", Document(later)["id"]});
  const CliResult history = RunCli({"history", "--json", "--since", "2000-01-01T00:00:00Z"});
  const CliResult status = RunCli({"status", "--json"});

  EXPECT_EQ(write.status, 0) << write.out << write.err;
  EXPECT_NE(write.out.find("verified"), std::string::npos) << write.out;
  EXPECT_TRUE(Shows(4, {"5690", '3', '0'}));
  EXPECT_EQ(brightness.status, 0) << brightness.err;
  EXPECT_EQ(sign_.Brightness(), 7);
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(Document(read)["panels"].size(), 10u);
  EXPECT_EQ(later.status, 0) << later.err;
  EXPECT_TRUE(Document(later)["scheduled"]);
  EXPECT_EQ(Document(schedule)["pending"][0]["id"], Document(later)["id"]);
  EXPECT_EQ(cancel.status, 0) << cancel.err;
  EXPECT_EQ(Document(history)["events"][1]["kind"], "change accepted");
  EXPECT_EQ(Document(history)["events"][1]["detail"]["issuer"], "root");
  EXPECT_EQ(Document(status)["rev"], 2);
  EXPECT_TRUE(Document(status)["pending"].empty());
}

TEST_F(AgentTest, CliWithoutAnAgentSaysSoForTheAgentsVerbs) {
  sim_.Start();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"status"}, {"schedule"}, {"history"}, {"write", "row1=1.00", "--at", "2099-01-01T00:00:00Z"}}) {
    const CliResult result = RunCli(args);
    EXPECT_EQ(result.status, 3) << args[0];
    EXPECT_NE(result.err.find("agent"), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  }
  // The sign's verbs talk to the port as before.
  EXPECT_EQ(RunCli({"write", "--port", "COM3", "row1=56.90:95:0"}).status, 0);
}

TEST_F(AgentTest, CliRefusedByTheSocketNamesTheGroup) {
  StartAgent();
  ASSERT_EQ(chmod(env_.Root().c_str(), 0755), 0);
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);

  const CliResult result = RunCli({"write", "row1=56.90:95:0"}, nobody->pw_uid);

  EXPECT_EQ(result.status, 3);
  EXPECT_NE(result.err.find("permission denied; add the user to group root"), std::string::npos) << result.err;
  EXPECT_EQ(tarvo::test::WriteFrames(sign_), 0u);
}

TEST_F(AgentTest, CliDirectWriteIsDriftToTheAgent) {
  StartAgent({.verifyIntervalS = 1, .drift = "report"});
  ASSERT_EQ(RunCli({"write", "row1=56.90:95:0"}).status, 0);

  const CliResult direct = RunCli({"write", "--direct", "--port", "COM3", "row1=11.11:80:0"});

  EXPECT_EQ(direct.status, 0) << direct.err;
  EXPECT_TRUE(Shows(4, {"1111", '1', '0'}));
  EXPECT_TRUE(WaitFor([&] { return agent_->CountEvents("drift found") >= 1; }, std::chrono::seconds(20)))
      << agent_->Log();
}

// A crashed agent's socket: the user hears of it, the port is left alone
// (the restarted agent would heal the price back).
TEST_F(AgentTest, CliBehindACrashedAgentStopsNamingTheSocket) {
  StartAgent();
  WaitFirstRead();
  agent_->Kill9();
  sign_.ClearReceived();

  const CliResult result = RunCli({"write", "row1=11.11:80:0"});

  EXPECT_EQ(result.status, 3) << result.out << result.err;
  EXPECT_NE(result.err.find(agent_->Socket()), std::string::npos) << result.err;
  EXPECT_EQ(sign_.ReceivedCount(), 0u);
}

TEST_F(AgentTest, CliPortThroughTheAgentMustBeTheAgentsOwn) {
  StartAgent();
  WaitFirstRead();
  sign_.ClearReceived();

  const CliResult other = RunCli({"write", "--port", "COM7", "row1=11.11:80:0"});
  const CliResult own = RunCli({"write", "--port", "COM3", "row1=22.22:80:0"});

  EXPECT_EQ(other.status, 2) << other.err;
  EXPECT_NE(other.err.find("COM3"), std::string::npos) << other.err;
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(tarvo::test::WriteFrames(sign_), 2u);
  EXPECT_TRUE(Shows(4, {"2222", '1', '0'}));
}

}  // namespace
