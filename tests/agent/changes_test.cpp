// The desired state through the agent's socket: a change applied and verified,
// scheduled changes at their time, after a restart and after a clock change,
// cancelled ones, drift healed or reported, and kill -9 in the middle of an apply.
#include <sys/socket.h>
#include <termios.h>

#include <atomic>
#include <mutex>

#include "tests/agent/agent_fixture.h"

namespace {

using nlohmann::json;
using sign_link::PanelRecord;
using tarvo::test::AgentSetup;
using tarvo::test::AgentTest;
using tarvo::test::EndExclusiveHold;
using tarvo::test::NowMs;
using tarvo::test::WaitFor;

constexpr int64_t kHourMs = 3600 * 1000;

const PanelRecord kBlank = {"----", '0', '0'};

TEST_F(AgentTest, AChangeIsWrittenReadBackAndVerifiedPanelByPanel) {
  StartAgent();
  WaitFirstRead();

  const json first = Write({"row1=56.90:95:1"});
  sign_.ClearReceived();
  const json second = Write({"row1=56.90:95:1", "row2=52.40:92"});

  ASSERT_TRUE(first["ok"]) << first;
  EXPECT_TRUE(first["verified"]);
  EXPECT_EQ(first["rev"], 1);
  EXPECT_TRUE(Shows(4, {"5690", '3', '1'}));
  EXPECT_TRUE(Shows(12, {"5690", '3', '1'}));
  ASSERT_TRUE(second["verified"]) << second;
  EXPECT_EQ(second["rev"], 2);
  // Only the second row differed from what the sign last showed.
  EXPECT_EQ(tarvo::test::WriteFrames(sign_), 2u);
  for (const json& panel : second["panels"]) {
    EXPECT_EQ(panel["sent"], panel["row"] == 2) << panel;
    EXPECT_TRUE(panel["verified"]) << panel;
  }
  // Fields the change left out are the sign's own: its inscription stays.
  EXPECT_TRUE(Shows(3, {"5240", '2', '0'}));
}

TEST_F(AgentTest, AScheduledChangeWaitsForItsTime) {
  // Shared with the simulator's thread, which outlives the test's body.
  struct FirstFrame {
    std::mutex mutex;
    std::optional<std::chrono::system_clock::time_point> when;
  };
  const auto firstFrame = std::make_shared<FirstFrame>();
  sim_.SetTranscript([firstFrame](const sign_sim::TranscriptLine& line) {
    std::lock_guard lock(firstFrame->mutex);
    if (line.direction == sign_sim::Direction::kReceived && line.bytes[0] == 'W' && !firstFrame->when)
      firstFrame->when = line.when;
  });
  StartAgent();
  WaitFirstRead();

  const int64_t at = NowMs() + 1500;
  const json reply = Schedule({"row1=11.11:80:0"}, at);

  ASSERT_TRUE(reply["ok"]) << reply;
  EXPECT_TRUE(reply["scheduled"]);
  EXPECT_EQ(agent_->Request({{"op", "schedule"}})["pending"].size(), 1u);
  ASSERT_TRUE(WaitShows(4, {"1111", '1', '0'})) << agent_->Log();
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard lock(firstFrame->mutex);
    return firstFrame->when.has_value();
  }));
  std::lock_guard lock(firstFrame->mutex);
  const int64_t frameMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(firstFrame->when->time_since_epoch()).count();
  EXPECT_GE(frameMs, at);
  EXPECT_TRUE(agent_->Request({{"op", "schedule"}})["pending"].empty());
}

TEST_F(AgentTest, ACancelledChangeIsNeverApplied) {
  StartAgent();
  WaitFirstRead();
  const json scheduled = Schedule({"row1=11.11:80:0"}, NowMs() + kHourMs);

  const json cancelled = agent_->Request({{"op", "cancel"}, {"id", scheduled["id"]}});
  const json again = agent_->Request({{"op", "cancel"}, {"id", scheduled["id"]}});
  agent_->SetClockOffsetMs(2 * kHourMs);
  ASSERT_TRUE(WaitFor([&] { return agent_->CountEvents("clock changed") == 1; })) << agent_->Log();

  EXPECT_TRUE(cancelled["ok"]) << cancelled;
  EXPECT_EQ(cancelled["state"], "cancelled");
  EXPECT_FALSE(again["ok"]);
  EXPECT_EQ(agent_->CountEvents("change cancelled"), 1u);
  EXPECT_TRUE(agent_->Request({{"op", "schedule"}})["pending"].empty());
  EXPECT_EQ(tarvo::test::WriteFrames(sign_), 0u);
  EXPECT_TRUE(Shows(4, kBlank));
}

TEST_F(AgentTest, AClockChangeBringsAScheduledChangeDue) {
  StartAgent();
  WaitFirstRead();
  Schedule({"row5=22.22:ДТ:2"}, NowMs() + kHourMs);

  agent_->SetClockOffsetMs(kHourMs + 1000);

  ASSERT_TRUE(WaitShows(0, {"2222", '5', '2'})) << agent_->Log();
  EXPECT_EQ(agent_->CountEvents("clock changed"), 1u);
  EXPECT_EQ(agent_->CountEvents("change due"), 1u);
}

TEST_F(AgentTest, OverdueChangesAfterARestartApplyTheNewestAndRecordTheSkipped) {
  StartAgent();
  WaitFirstRead();
  const json older = Schedule({"row1=11.11:80:0"}, NowMs() + kHourMs);
  const json newer = Schedule({"row2=22.22:92:1"}, NowMs() + 2 * kHourMs);
  ASSERT_EQ(agent_->Stop(), 0);

  agent_->SetClockOffsetMs(3 * kHourMs);
  agent_->Start();

  WaitVerified();
  // The newest revision holds what the older one changed too.
  EXPECT_TRUE(Shows(3, {"2222", '2', '1'}));
  EXPECT_TRUE(Shows(4, {"1111", '1', '0'}));
  // Both came due at once: a revision each, one session that applied them.
  const json status = agent_->Request({{"op", "status"}});
  EXPECT_EQ(status["rev"], 2);
  EXPECT_TRUE(status["pending"].empty());
  EXPECT_EQ(agent_->CountEvents("applied"), 1u) << agent_->Events();
  bool skipped = false;
  for (const json& event : agent_->Events())
    skipped = skipped || (event["kind"] == "change skipped" && event["detail"]["id"] == older["id"] &&
                          event["detail"]["shown_through"] == newer["id"]);
  EXPECT_TRUE(skipped) << agent_->Events();
}

TEST_F(AgentTest, ABlankedSignIsHealedWithinAnInterval) {
  StartAgent({.verifyIntervalS = 1});
  const json written = Write({"row1=11.11:80:0", "row2=22.22:92:1", "row3=33.33:95:2", "row4=44.44:98:3",
                              "row5=55.55:ДТ:0"});
  ASSERT_TRUE(written["verified"]) << written;
  const PanelRecord row3 = sign_.Panel(2);

  for (uint8_t address : {0, 1, 2, 3, 4, 8, 9, 10, 11, 12}) sign_.SetPanel(address, kBlank);

  // Ten panels found different, each written again and verified (in one
  // verification, or two when the blanking met one halfway).
  ASSERT_TRUE(WaitFor([&] { return agent_->Request({{"op", "status"}})["drift_count"] == 10; },
                      std::chrono::seconds(20)))
      << agent_->Log();
  EXPECT_GE(agent_->CountEvents("drift healed"), 1u);
  EXPECT_EQ(agent_->CountEvents("verification failed"), 0u);
  EXPECT_TRUE(Shows(2, row3));
  EXPECT_TRUE(Shows(10, row3));
}

TEST_F(AgentTest, DriftIsOnlyReportedWhenAskedTo) {
  StartAgent({.verifyIntervalS = 1, .drift = "report"});
  ASSERT_TRUE(Write({"row1=11.11:80:0"})["verified"]);
  sign_.ClearReceived();

  sign_.SetPanel(4, {"9999", '1', '0'});

  ASSERT_TRUE(WaitFor([&] { return agent_->CountEvents("drift found") >= 1; }, std::chrono::seconds(20)))
      << agent_->Log();
  const json drift = [&] {
    for (const json& event : agent_->Events())
      if (event["kind"] == "drift found") return event;
    return json();
  }();
  EXPECT_EQ(drift["detail"]["panels"][0]["shown"]["price"], "99.99") << drift;
  EXPECT_EQ(tarvo::test::WriteFrames(sign_), 0u);
  EXPECT_TRUE(Shows(4, {"9999", '1', '0'}));
}

// A write of all ten panels and the brightness is 21 messages on the line:
// the agent is killed after each of them in turn, and after every restart the
// database opens, every confirmed change is still there and the sign shows
// the last change.
TEST_F(AgentTest, KillNineAtEveryPointOfAnApplyLosesNothingConfirmed) {
  sign_.SetLineRate(19200);
  const auto received = std::make_shared<std::atomic<size_t>>(0);
  sim_.SetTranscript([received](const sign_sim::TranscriptLine& line) {
    if (line.direction == sign_sim::Direction::kReceived) ++*received;
  });
  std::atomic<size_t>& messages = *received;
  StartAgent();
  WaitFirstRead();
  constexpr size_t kMessages = 21;
  std::vector<std::string> confirmed;
  for (size_t point = 1; point <= kMessages; ++point) {
    SCOPED_TRACE("killed after message " + std::to_string(point));
    const json stored = Schedule({"row1=01.01"}, NowMs() + 24 * kHourMs);
    ASSERT_TRUE(stored["ok"]) << stored;
    confirmed.push_back(stored["id"]);
    const auto price = [point](int row) {
      char text[8];
      std::snprintf(text, sizeof text, "%02zu.%02d", point, row);
      return std::string(text);
    };
    std::vector<std::string> specs;
    for (int row = 1; row <= 5; ++row) specs.push_back("row" + std::to_string(row) + "=" + price(row) + ":95:1");
    const size_t before = messages;
    const int client = tarvo::test::ConnectUnix(agent_->Socket());
    const std::string request = json({{"op", "write"}, {"specs", specs}, {"brightness", point % 10}}).dump() + "\n";
    ASSERT_EQ(send(client, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    ASSERT_TRUE(WaitFor([&] { return messages >= before + point; })) << agent_->Log();
    agent_->Kill9();
    close(client);
    EndExclusiveHold(sign_.TerminalPath());

    agent_->Start();

    const PanelRecord top = {price(1).substr(0, 2) + price(1).substr(3), '3', '1'};
    WaitVerified();
    EXPECT_TRUE(Shows(4, top));
    EXPECT_TRUE(Shows(8, {price(5).substr(0, 2) + price(5).substr(3), '3', '1'}));
    EXPECT_EQ(sign_.Brightness(), static_cast<int>(point % 10));
    const json pending = agent_->Request({{"op", "schedule"}})["pending"];
    ASSERT_EQ(pending.size(), confirmed.size());
    for (size_t i = 0; i < confirmed.size(); ++i) EXPECT_EQ(pending[i]["id"], confirmed[i]);
  }
}

}  // namespace
