// The history kept for history_days, and tarvo-agent --backup's copy of the
// database while the agent runs.
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "agent/state_db.h"
#include "station/event_kind.h"
#include "tests/agent/agent_fixture.h"

namespace {

using nlohmann::json;
using tarvo::test::AgentTest;

constexpr int64_t kDayMs = 86400LL * 1000;

int BackUp(const std::string& config, const std::string& copy) {
  const std::string line =
      std::string(TARVO_AGENT_PROGRAM) + " --config '" + config + "' --backup '" + copy + "'";
  return WEXITSTATUS(std::system(line.c_str()));
}

std::string IntegrityOf(const std::string& file) {
  sqlite3* db = nullptr;
  std::string verdict = "cannot open";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    if (sqlite3_step(check) == SQLITE_ROW)
      verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
    sqlite3_finalize(check);
  }
  sqlite3_close(db);
  return verdict;
}

// A copy taken while clients keep writing is a whole database by itself: no
// log beside it, every change it holds has its events, and it opens as the
// agent's state.
TEST_F(AgentTest, ABackupWhileTheAgentWritesIsAWholeDatabase) {
  StartAgent();
  ASSERT_TRUE(Write({"row1=11.11:95"})["ok"]);
  const std::string copy = env_.Root() + "/backup/agent-copy.db";
  std::filesystem::create_directories(env_.Root() + "/backup");
  std::ofstream(copy) << "yesterday's copy";

  std::thread writer([this] {
    for (const char* spec : {"row2=22.22:92", "row3=33.33:98", "row4=44.44:80"}) Write({spec});
  });
  const int status = BackUp(agent_->Config(), copy);
  writer.join();

  ASSERT_EQ(status, 0);
  EXPECT_EQ(IntegrityOf(copy), "ok");
  EXPECT_FALSE(std::filesystem::exists(copy + "-wal"));
  EXPECT_FALSE(std::filesystem::exists(copy + ".partial"));
  agent::StateDb restored(copy);
  const int64_t changes = restored.LastChangeNumber();
  EXPECT_GE(changes, 1);
  size_t accepted = 0;
  for (const agent::Event& event : restored.Events(0, 100000))
    accepted += event.kind == station::EventKind::kChangeAccepted;
  EXPECT_EQ(accepted, static_cast<size_t>(changes));
}

TEST_F(AgentTest, ABackupOfAFolderWithoutADatabaseFailsAndWritesNothing) {
  const std::string config = env_.Root() + "/elsewhere.toml";
  std::ofstream(config) << "state_dir = \"" << env_.Root()
                        << "/nothing-here\"\nsocket_group = \"root\"\n";
  EXPECT_EQ(BackUp(config, env_.Root() + "/copy.db"), 1);
  EXPECT_FALSE(std::filesystem::exists(env_.Root() + "/copy.db"));
}

// Events older than history_days go at the start (and daily); what is newer stays.
TEST_F(AgentTest, TheHistoryForgetsWhatIsOlderThanItsDays) {
  StartAgent();
  ASSERT_TRUE(Write({"row1=11.11:95"})["ok"]);
  ASSERT_EQ(agent_->Stop(), 0);
  std::ofstream(agent_->Config(), std::ios::app) << "history_days = 2\n";

  agent_->SetClockOffsetMs(1 * kDayMs);
  agent_->Start();
  EXPECT_EQ(agent_->CountEvents("change accepted"), 1u);
  ASSERT_EQ(agent_->Stop(), 0);
  agent_->SetClockOffsetMs(2 * kDayMs + 60000);
  agent_->Start();

  const json events = agent_->Events();
  EXPECT_EQ(agent_->CountEvents("change accepted"), 0u) << events;
  EXPECT_EQ(agent_->CountEvents("agent started"), 2u) << events;  // a day old, and now
  EXPECT_EQ(agent_->CountEvents("history pruned"), 1u) << events;
}

}  // namespace
