// What a confirmation means: "verified" comes only from a read-back of the
// sign after the change took effect; the state's revision never goes back;
// every write is answered; a change superseded before it was verified says
// so; what a full disk could not store never comes back over a newer change.
#include <sys/socket.h>

#include "tests/agent/agent_fixture.h"
#include "tests/agent/small_disk.h"

namespace {

using nlohmann::json;
using sign_link::PanelRecord;
using tarvo::test::AgentTest;
using tarvo::test::ConnectUnix;
using tarvo::test::Exchange;
using tarvo::test::NowMs;
using tarvo::test::WaitFor;

std::string Line(const json& request) { return request.dump() + "\n"; }

size_t CountEventsFor(const json& events, const std::string& kind, const json& rev) {
  size_t count = 0;
  for (const json& event : events) count += event["kind"] == kind && event["rev"] == rev ? 1 : 0;
  return count;
}

TEST_F(AgentTest, AWriteIsConfirmedByTheSignNotByWhatTheAgentReadBefore) {
  StartAgent();
  WaitFirstRead();
  ASSERT_TRUE(Write({"row1=11.11:95"})["verified"]);
  // Another program (the window, tarvo-cli --direct) writes the row.
  sign_.SetPanel(4, {"2222", '3', '0'});
  sign_.SetPanel(12, {"2222", '3', '0'});

  const json again = Write({"row1=11.11:95"});

  EXPECT_TRUE(again["verified"]) << again;
  EXPECT_TRUE(Shows(4, {"1111", '3', '0'}));
  EXPECT_TRUE(Shows(12, {"1111", '3', '0'}));
}

TEST_F(AgentTest, TheRevisionGrowsInTheOrderChangesTakeEffect) {
  StartAgent();
  WaitFirstRead();
  const json later = Schedule({"row1=11.11:80:0"}, NowMs() + 1500);
  const json now = Write({"row2=22.22:92:0"});

  ASSERT_TRUE(WaitShows(4, {"1111", '1', '0'})) << agent_->Log();
  WaitVerified();

  EXPECT_TRUE(later["rev"].is_null()) << later;
  EXPECT_EQ(now["rev"], 1) << now;
  const json status = agent_->Request({{"op", "status"}});
  EXPECT_EQ(status["rev"], 2) << status;
  EXPECT_EQ(status["verified_rev"], 2) << status;
  EXPECT_TRUE(Shows(3, {"2222", '2', '0'}));
}

// A change that came due while the sign was unplugged, then kill -9: the
// restarted agent writes it, whatever the drift mode says of drift.
TEST_F(AgentTest, AChangeDueWhileTheSignIsAwayIsWrittenAfterAKill) {
  StartAgent({.drift = "report"});
  WaitFirstRead();
  sign_.Unplug();
  Schedule({"row1=11.11:80:0"}, NowMs() + 500);
  ASSERT_TRUE(WaitFor([&] { return agent_->CountEvents("change due") == 1; })) << agent_->Log();

  agent_->Kill9();
  sign_.Replug();
  agent_->Start();

  ASSERT_TRUE(WaitShows(4, {"1111", '1', '0'})) << agent_->Log();
  WaitVerified();
}

TEST_F(AgentTest, AWriteWaitingBehindAReadIsAnsweredWhenAnEarlierChangeComesDue) {
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 80; });  // a read of ten panels: about a second
  StartAgent();
  WaitFirstRead();
  Schedule({"row3=33.33:95:0"}, NowMs() + 600);
  const int reader = ConnectUnix(agent_->Socket());
  ASSERT_EQ(send(reader, "{\"op\":\"read\"}\n", 14, MSG_NOSIGNAL), 14);

  const json written = Write({"row1=11.11:80:0"});
  const json read = json::parse(Exchange(reader, ""), nullptr, false);
  close(reader);

  EXPECT_TRUE(written["verified"]) << written << agent_->Log();
  EXPECT_TRUE(read["ok"]) << read;
  EXPECT_TRUE(WaitShows(2, {"3333", '3', '0'}));
}

TEST_F(AgentTest, AWriteSupersededBeforeItWasVerifiedSaysSo) {
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 80; });
  StartAgent();
  WaitFirstRead();
  const int first = ConnectUnix(agent_->Socket());
  const std::string request = Line({{"op", "write"}, {"specs", {"row1=11.11:80:0"}}});
  ASSERT_EQ(send(first, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  ASSERT_TRUE(WaitFor([&] { return agent_->Request({{"op", "status"}})["rev"] == 1; }));

  const json second = Write({"row1=22.22:80:0"});
  const json superseded = json::parse(Exchange(first, ""), nullptr, false);
  close(first);

  EXPECT_FALSE(superseded["verified"]) << superseded;
  EXPECT_EQ(superseded["superseded_by"], second["id"]) << superseded;
  EXPECT_TRUE(second["verified"]) << second;
  EXPECT_TRUE(Shows(4, {"2222", '1', '0'}));
  EXPECT_EQ(agent_->CountEvents("change superseded"), 1u);
}

// Nothing read means nothing confirmed: neither a write nor a verification.
TEST_F(AgentTest, ASignAnsweringForAnotherPanelConfirmsNothing) {
  StartAgent({.verifyIntervalS = 1});
  ASSERT_TRUE(Write({"row1=11.11:80:0"})["verified"]);
  ASSERT_TRUE(WaitFor([&] {
    const json verification = agent_->Request({{"op", "status"}})["last_verification"];
    return verification["rev"] == 1 && verification["ok"] == true;
  })) << agent_->Log();
  const size_t okBefore = agent_->CountEvents("verification ok");
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.answerForAnotherPanel = true; });

  const json written = Write({"row2=22.22:92:0"});
  // The agent tries again: a second session after the one that answered the write.
  ASSERT_TRUE(WaitFor([&] { return agent_->CountEvents("applied") >= 3; }, std::chrono::seconds(20)))
      << agent_->Log();

  EXPECT_FALSE(written["verified"]) << written;
  EXPECT_EQ(agent_->CountEvents("verification ok"), okBefore) << agent_->Events();
  EXPECT_EQ(agent_->CountEvents("change verified"), 1u) << agent_->Events();
  EXPECT_EQ(agent_->Request({{"op", "status"}})["verified_rev"], 1);
}

// A verification that began before a write says nothing of the write's revision.
TEST_F(AgentTest, AVerificationUnderwayIsNotTakenForTheNextRevision) {
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 80; });
  StartAgent({.verifyIntervalS = 1});
  ASSERT_TRUE(Write({"row1=11.11:80:0"})["verified"]);
  ASSERT_TRUE(WaitFor([&] {
    const json status = agent_->Request({{"op", "status"}});
    return status["busy"].get<bool>() && status["verified_rev"] == 1;
  })) << agent_->Log();
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.refusedWrites = 1000; });

  const json written = Write({"row2=22.22:92:0"});

  EXPECT_FALSE(written["verified"]) << written;
  EXPECT_EQ(CountEventsFor(agent_->Events(), "verification ok", written["rev"]), 0u) << agent_->Events();
  EXPECT_EQ(agent_->Request({{"op", "status"}})["verified_rev"], 1);
}

// Written to the sign while the disk was full, so not stored as applied: a
// newer change confirmed after the space came back stays after a restart.
TEST_F(AgentTest, AChangeTheDiskCouldNotRecordNeverReturnsOverANewerOne) {
  tarvo::test::SmallDisk disk(env_.Root() + "/agent-state");
  StartAgent();
  WaitFirstRead();
  ASSERT_TRUE(Schedule({"row1=11.11:80:0"}, NowMs() + 1000)["ok"]);
  disk.Fill();
  ASSERT_TRUE(WaitShows(4, {"1111", '1', '0'})) << agent_->Log();
  disk.Free();

  const json newer = Write({"row1=22.22:80:0"});
  ASSERT_TRUE(newer["verified"]) << newer;
  ASSERT_EQ(agent_->Stop(), 0);
  agent_->Start();
  WaitVerified();

  EXPECT_TRUE(Shows(4, {"2222", '1', '0'})) << agent_->Log();
  EXPECT_EQ(agent_->Request({{"op", "status"}})["rev"], 2);
  EXPECT_EQ(agent_->CountEvents("change due"), 1u) << agent_->Events();
}

}  // namespace
