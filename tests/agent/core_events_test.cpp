// The core in this process: its observers hear only events the history
// holds, with the history's row id, and a listener that missed some gets
// them from EventsAfter.
#include <gtest/gtest.h>
#include <systemd/sd-event.h>

#include <filesystem>

#include "agent/agent_core.h"
#include "agent/agent_log.h"
#include "tests/agent/small_disk.h"
#include "tests/support/hermetic_env.h"

namespace {

using station::EventKind;

struct Heard final : agent::AgentObserver {
  void OnEvent(const agent::Event& event) override { events.push_back(event); }
  std::vector<agent::Event> events;
};

class CoreEventsTest : public ::testing::Test {
 protected:
  CoreEventsTest() : disk_(env_.Root() + "/state") {
    sd_event_new(&loop_);
    config_.stateDir = env_.Root() + "/state";
    db_.emplace(config_.stateDir + "/agent.db");
    core_.emplace(loop_, config_, *db_);
    core_->AddObserver(&heard_);
  }
  ~CoreEventsTest() override {
    core_.reset();
    db_.reset();
    sd_event_unref(loop_);
  }
  // A change for an hour from now: stored, nothing sent to any sign.
  nlohmann::json Schedule() {
    agent::ChangeRequest request;
    request.issuer = "test";
    request.panels = {{4, std::string("1111"), '1', '0'}};
    request.effectiveAt = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::system_clock::now().time_since_epoch()).count() + 3600 * 1000;
    nlohmann::json reply;
    core_->Submit(request, [&reply](const nlohmann::json& document) { reply = document; });
    return reply;
  }

  tarvo::test::HermeticEnv env_;
  tarvo::test::SmallDisk disk_;
  sd_event* loop_ = nullptr;
  agent::AgentConfig config_;
  std::optional<agent::StateDb> db_;
  std::optional<agent::AgentCore> core_;
  Heard heard_;
};

TEST_F(CoreEventsTest, AChangeTheDiskRefusedIsNeverHeardOf) {
  disk_.Fill();

  const nlohmann::json refused = Schedule();

  EXPECT_FALSE(refused["ok"]) << refused;
  EXPECT_TRUE(heard_.events.empty());
  disk_.Free();
  EXPECT_TRUE(db_->EventsAfter(0, 10).empty());
}

TEST_F(CoreEventsTest, ObserversHearTheHistoryRowsAndCanCatchUp) {
  ASSERT_TRUE(Schedule()["ok"]);
  ASSERT_TRUE(Schedule()["ok"]);
  core_->Record(EventKind::kDesiredStale, std::nullopt, {{"why", "test"}}, LOG_INFO);

  ASSERT_EQ(heard_.events.size(), 3u);
  const std::vector<agent::Event> missed = core_->EventsAfter(heard_.events[0].id, 10);
  ASSERT_EQ(missed.size(), 2u);
  EXPECT_EQ(missed[0].id, heard_.events[1].id);
  EXPECT_EQ(missed[0].kind, EventKind::kChangeScheduled);
  EXPECT_EQ(missed[0].change, heard_.events[1].change);
  EXPECT_EQ(missed[1].kind, EventKind::kDesiredStale);
  EXPECT_EQ(core_->EventsAfter(heard_.events[0].id, 1).size(), 1u);
}

}  // namespace
