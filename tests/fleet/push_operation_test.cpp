// A push as an object, without a broker: the plans it publishes, and when a
// station's report confirms it, on what the sign shows.
#include "fleet_push/push_operation.h"

#include <gtest/gtest.h>

#include "fleet_push/failure.h"
#include "mqtt/topics.h"

namespace {

using namespace tarvo_fleet;
using namespace tarvo_mqtt;
using namespace std::chrono_literals;

const WallTime kNow = *station::ParseRfc3339("2026-12-09T03:00:00Z");
const int64_t kNowMs = 1796785200000;

Message Retained(TopicKind kind, const std::string& payload) {
  return {Topic("S1", kind), payload, false};
}

// A station S1 online, whose plan sets row 5 (panel 0) at office rev `rev`.
FleetView Fleet(int64_t rev = 5) {
  FleetView view;
  view.Take(Retained(TopicKind::kStatus, Serialise(Status{true, 1})));
  view.Take(Retained(TopicKind::kDesired,
                     Serialise(Desired{rev, "old", "ho", {{0, "1111", '1', '0'}}, {}, {}})));
  return view;
}

PlanChange Row1(const std::string& id, std::optional<WallTime> at = std::nullopt,
                const std::string& price = "4560") {
  return {id, "ho", {{4, price, {}, {}}, {12, price, {}, {}}}, std::nullopt, at, {}};
}

struct Driven {
  Driven(FleetView view, PlanChange change, WallTime start = kNow)
      : push(std::move(view), {"S1"}, std::move(change), start,
             {.publish =
                  [this](const std::string&, const std::string& payload) {
                    published.push_back(ParseDesired(payload));
                    return true;
                  },
              .changed = nullptr}) {
    push.Start();
  }
  void Take(TopicKind kind, const std::string& payload, WallTime at = kNow) {
    push.Take(Retained(kind, payload), at);
  }
  Outcome Now() const { return push.Outcomes().at(0).outcome; }

  std::vector<Desired> published;
  PushOperation push;
};

TEST(PushOperation, PublishesTheWholePlanUnderARevisionAboveTheClockAndEveryOneSeen) {
  Driven low(Fleet(5), Row1("c"));
  ASSERT_EQ(low.published.size(), 1u);
  const Desired& plan = low.published[0];
  EXPECT_EQ(plan.rev, kNowMs);
  EXPECT_EQ(plan.panels, (std::vector<station::PanelRequest>{
                             {0, "1111", '1', '0'}, {4, "4560", {}, {}}, {12, "4560", {}, {}}}));
  Driven high(Fleet(kNowMs + 7), Row1("c"));
  EXPECT_EQ(high.published[0].rev, kNowMs + 8);
  EXPECT_THROW(Driven(Fleet(kHighestRev), Row1("c")), FleetFailure);
}

TEST(PushOperation, AScheduledEntryStaysInThePlanAPushForNowAndItsTimeFoldItIn) {
  Driven later(Fleet(), Row1("tomorrow", kNow + 24h));
  FleetView view = Fleet();
  view.Take(Retained(TopicKind::kDesired, Serialise(later.published[0])));
  Driven correction(view, PlanChange{"now", "ho", {{8, "5210", {}, {}}}, std::nullopt, {}, {}});
  const Desired& plan = correction.published[0];
  ASSERT_EQ(plan.scheduled.size(), 1u);
  EXPECT_EQ(plan.scheduled[0].changeId, "tomorrow");
  const Desired folded = Merge(plan, PlanChange{"after", "ho", {}, std::nullopt, {}, {}}, plan.rev + 1,
                               kNow + 25h);
  EXPECT_TRUE(folded.scheduled.empty());
  EXPECT_TRUE(Shows(folded.panels, Row1("tomorrow").panels));
}

Reported Report(int64_t rev, StationState state, std::vector<station::PanelRequest> panels,
                bool checked = true) {
  Reported reported;
  reported.rev = rev;
  reported.changeId = "c";
  reported.state = state;
  reported.panels = std::move(panels);
  reported.lastVerification = Verification{kNow, checked};
  reported.version = "v";
  reported.bootId = "b";
  return reported;
}

// Read-backs: the plan's panel 0 as it was, and row 1 as pushed, or not.
const std::vector<station::PanelRequest> kShown = {
    {0, "1111", '1', '0'}, {4, "4560", '3', '1'}, {12, "4560", '3', '1'}};
const std::vector<station::PanelRequest> kOther = {
    {0, "1111", '1', '0'}, {4, "9901", '3', '1'}, {12, "4560", '3', '1'}};

struct Standing {
  const char* name;
  Reported reported;
  Outcome waiting;  // once the report came
  Outcome final;    // at the deadline
};

Reported WithOverride(std::vector<int> panels, std::vector<station::PanelRequest> shown) {
  Reported reported = Report(kNowMs, StationState::kVerified, std::move(shown));
  reported.localOverride = LocalOverride{"l", "operator", kNow, std::move(panels)};
  return reported;
}

// "stale": below the rev held; "conflict": the rev held, by another push.
Reported Refused(const std::string& reason) {
  Reported reported = Report(kNowMs - (reason == "stale"), StationState::kVerified, kShown);
  if (reason == "conflict") reported.changeId = "other";
  reported.refused = RefusedPlan{kNowMs, "c", reason};
  return reported;
}

const Standing kStandings[] = {
    {"VerifiedAndShownIsConfirmed", Report(kNowMs, StationState::kVerified, kShown),
     Outcome::kConfirmed, Outcome::kConfirmed},
    {"VerifiedButTheSignShowsAnotherPrice", Report(kNowMs, StationState::kVerified, kOther),
     Outcome::kWaiting, Outcome::kNotConfirmed},
    {"LocalOverrideOnItsPanels", WithOverride({4}, kOther), Outcome::kNotConfirmed,
     Outcome::kNotConfirmed},
    {"LocalOverrideElsewhere", WithOverride({9}, kShown), Outcome::kConfirmed,
     Outcome::kConfirmed},
    {"LastVerificationFailed", Report(kNowMs, StationState::kVerified, kShown, false),
     Outcome::kWaiting, Outcome::kNotConfirmed},
    {"ApplyingWaits", Report(kNowMs, StationState::kApplying, kShown), Outcome::kWaiting,
     Outcome::kNotConfirmed},
    {"RefusedAsStale", Refused("stale"), Outcome::kNotConfirmed, Outcome::kNotConfirmed},
    // The other push merges this one into its next plan; only the deadline is final.
    {"RefusedAsConflictWaits", Refused("conflict"), Outcome::kWaiting, Outcome::kNotConfirmed},
};

class StandingTest : public ::testing::TestWithParam<Standing> {};

TEST_P(StandingTest, IsJudgedOnTheSign) {
  Driven driven(Fleet(), Row1("c"));
  driven.Take(TopicKind::kReported, Serialise(GetParam().reported));
  EXPECT_EQ(driven.Now(), GetParam().waiting) << driven.push.Outcomes()[0].detail;
  driven.push.Expire();
  EXPECT_EQ(driven.Now(), GetParam().final) << driven.push.Outcomes()[0].detail;
}

INSTANTIATE_TEST_SUITE_P(PushOperation, StandingTest, ::testing::ValuesIn(kStandings),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(PushOperation, AStationThatStaysAwayIsOfflineAndAScheduledOneConfirmsItsEntry) {
  Driven away(Fleet(), Row1("c"));
  away.Take(TopicKind::kStatus, Serialise(Status{false, 1}));
  away.push.Expire();
  EXPECT_EQ(away.Now(), Outcome::kOffline);

  Driven later(Fleet(), Row1("c", kNow + 1h));
  Reported reported = Report(kNowMs, StationState::kScheduled, {});
  reported.pending = {{kNowMs, "c", kNow + 1h}};
  later.Take(TopicKind::kReported, Serialise(reported));
  EXPECT_EQ(later.Now(), Outcome::kConfirmed);
}

// Two pushes at once, in the order the broker took them: A's plan, then B's
// (made from the plan before A's). A merges itself into B's; B sees its
// change carried by that plan; one verified report confirms both.
TEST(PushOperation, ConcurrentPushesEndInOnePlanThatCarriesBoth) {
  Driven a(Fleet(), Row1("a"));
  Driven b(Fleet(), PlanChange{"b", "ho", {{8, "5210", {}, {}}}, std::nullopt, {}, {}});
  const std::string planA = Serialise(a.published[0]);
  const std::string planB = Serialise(b.published[0]);
  for (Driven* side : {&a, &b}) {
    side->Take(TopicKind::kDesired, planA);
    side->Take(TopicKind::kDesired, planB);
  }
  ASSERT_EQ(a.published.size(), 2u);
  const Desired& merged = a.published[1];
  EXPECT_GT(merged.rev, b.published[0].rev);
  for (Driven* side : {&a, &b}) side->Take(TopicKind::kDesired, Serialise(merged));
  EXPECT_EQ(b.push.Outcomes()[0].rev, merged.rev);
  Reported reported = Report(merged.rev, StationState::kVerified,
                             {{0, "1111", '1', '0'},
                              {4, "4560", '3', '1'},
                              {8, "5210", '1', '0'},
                              {12, "4560", '3', '1'}});
  reported.changeId = merged.changeId;
  for (Driven* side : {&a, &b}) {
    side->Take(TopicKind::kReported, Serialise(reported));
    EXPECT_EQ(side->Now(), Outcome::kConfirmed) << side->push.Outcomes()[0].detail;
  }
}

TEST(PushOperation, ALaterPushOfTheSameRowReplacesItAndItSaysSo) {
  Driven a(Fleet(), Row1("a"));
  Driven b(Fleet(), Row1("b", std::nullopt, "4570"));
  a.Take(TopicKind::kDesired, Serialise(a.published[0]));
  a.Take(TopicKind::kDesired, Serialise(b.published[0]));
  EXPECT_EQ(a.published.size(), 1u);
  EXPECT_EQ(a.Now(), Outcome::kNotConfirmed);
  EXPECT_NE(a.push.Outcomes()[0].detail.find("replaced by change b"), std::string::npos);
}

// A cancel takes its entry out of the plan. It is confirmed only once the
// station took that plan before the entry's time; where the entry is due
// already it publishes nothing and says so.
TEST(PushOperation, ACancelIsConfirmedOnlyWhenTheStationTookItBeforeTheEntrysTime) {
  Driven scheduled(Fleet(), Row1("tomorrow", kNow + 1h));
  FleetView view = Fleet();
  view.Take(Retained(TopicKind::kDesired, Serialise(scheduled.published[0])));
  const PlanChange cancel{"x", "ho", {}, std::nullopt, std::nullopt, "tomorrow"};
  for (const auto& [at, outcome] : {std::pair{kNow + 30min, Outcome::kConfirmed},
                                    std::pair{kNow + 1h, Outcome::kNotConfirmed}}) {
    Driven driven(view, cancel);
    ASSERT_EQ(driven.published.size(), 1u);
    EXPECT_TRUE(driven.published[0].scheduled.empty());
    Reported reported = Report(driven.published[0].rev, StationState::kVerified, {{0, "1111", '1', '0'}});
    reported.changeId = "x";
    reported.pending = {{driven.published[0].rev, "tomorrow", kNow + 1h}};
    driven.Take(TopicKind::kReported, Serialise(reported), at);
    EXPECT_EQ(driven.Now(), Outcome::kWaiting) << "the station still holds the entry";
    reported.pending.clear();
    driven.Take(TopicKind::kReported, Serialise(reported), at);
    EXPECT_EQ(driven.Now(), outcome) << driven.push.Outcomes()[0].detail;
  }
  // The station's clock ran ahead: it reports the plan it held, the entry gone.
  Reported cameDue = Report(scheduled.published[0].rev, StationState::kVerified, {});
  cameDue.changeId = "tomorrow";
  Driven raced(view, cancel);
  raced.Take(TopicKind::kReported, Serialise(cameDue), kNow + 30min);
  EXPECT_EQ(raced.Now(), Outcome::kNotConfirmed);
  EXPECT_NE(raced.push.Outcomes()[0].detail.find("too late"), std::string::npos);
  Driven due(view, cancel, kNow + 2h);
  EXPECT_TRUE(due.published.empty());
  EXPECT_EQ(due.Now(), Outcome::kNotConfirmed);
  EXPECT_NE(due.push.Outcomes()[0].detail.find("not scheduled"), std::string::npos);
}

// Resumed after its driver stopped: a plan of its rev on the broker is its
// own and is judged, not published again; an older one means its own never
// got there, and it is merged into that one and published.
TEST(PushOperation, AResumedPushJudgesItsOwnPlanOrPublishesOneThatNeverArrived) {
  for (const int64_t onBroker : {kNowMs, kNowMs - 10}) {
    std::vector<Desired> published;
    PushOperation push({{"S1", kNowMs, Outcome::kWaiting, ""}}, Row1("c"), std::nullopt,
                       {.publish =
                            [&](const std::string&, const std::string& payload) {
                              published.push_back(ParseDesired(payload));
                              return true;
                            },
                        .changed = nullptr});
    Desired plan{onBroker, onBroker == kNowMs ? "c" : "old", "ho", {{0, "1111", '1', '0'}}, {}, {}};
    if (onBroker == kNowMs) plan.panels = kShown;
    push.Take(Retained(TopicKind::kDesired, Serialise(plan)), kNow);
    EXPECT_EQ(published.size(), onBroker == kNowMs ? 0u : 1u);
    const int64_t rev = published.empty() ? kNowMs : published[0].rev;
    EXPECT_GT(rev, onBroker - 1);
    Reported reported = Report(rev, StationState::kVerified, kShown);
    push.Take(Retained(TopicKind::kReported, Serialise(reported)), kNow);
    EXPECT_EQ(push.Outcomes()[0].outcome, Outcome::kConfirmed) << push.Outcomes()[0].detail;
  }
}

}  // namespace
