// The head office's view of a station: which status stands, and where a
// station stands on a pushed revision.
#include "fleet/fleet_view.h"

#include <gtest/gtest.h>

#include "mqtt/topics.h"

namespace {

using namespace tarvo_fleet;
using namespace tarvo_mqtt;

struct StatusOrder {
  const char* name;
  std::vector<Status> arriving;
  Status standing;
};

const StatusOrder kStatusOrders[] = {
    {"LateWillOfAnOlderSessionIsIgnored", {{true, 6}, {false, 5}}, {true, 6}},
    {"WillOfTheSameSessionSaysLost", {{true, 6}, {false, 6}}, {false, 6}},
    {"RetainedWillThenNewerOnline", {{false, 5}, {true, 6}}, {true, 6}},
    {"ReplayedOnlineAfterItsWillIsIgnored", {{true, 6}, {false, 6}, {true, 6}}, {false, 6}},
};

class StatusOrderTest : public ::testing::TestWithParam<StatusOrder> {};

TEST_P(StatusOrderTest, TheNewestSessionStands) {
  FleetView view;
  for (const Status& status : GetParam().arriving)
    view.Take({Topic("S1", TopicKind::kStatus), Serialise(status), false});
  ASSERT_NE(view.Find("S1"), nullptr);
  EXPECT_EQ(view.Find("S1")->status, GetParam().standing);
}

INSTANTIATE_TEST_SUITE_P(FleetView, StatusOrderTest, ::testing::ValuesIn(kStatusOrders),
                         [](const auto& param) { return std::string(param.param.name); });

Reported Report(std::optional<int64_t> rev, StationState state,
                std::vector<PendingRevision> pending = {}, std::string change = "c") {
  Reported reported;
  reported.rev = rev;
  reported.changeId = change;
  reported.state = state;
  reported.pending = std::move(pending);
  reported.version = "v";
  reported.bootId = "b";
  return reported;
}

struct Standing {
  const char* name;
  std::optional<Status> status;
  std::optional<Reported> reported;
  bool scheduled;
  Outcome waiting;  // before the timeout
  Outcome final;    // at the timeout
};

const Standing kStandings[] = {
    {"VerifiedIsConfirmed", Status{true, 1}, Report(5, StationState::kVerified), false,
     Outcome::kConfirmed, Outcome::kConfirmed},
    {"ApplyingWaitsThenIsNotConfirmed", Status{true, 1}, Report(5, StationState::kApplying), false,
     Outcome::kWaiting, Outcome::kNotConfirmed},
    {"PendingIsConfirmedForAScheduledChange", Status{true, 1},
     Report(4, StationState::kScheduled, {{5, "c", {}}}), true, Outcome::kConfirmed,
     Outcome::kConfirmed},
    {"PendingIsNotEnoughForAChangeNow", Status{true, 1},
     Report(4, StationState::kScheduled, {{5, "c", {}}}), false, Outcome::kWaiting,
     Outcome::kNotConfirmed},
    {"NewerRevisionSupersedes", Status{true, 1}, Report(6, StationState::kVerified), false,
     Outcome::kNotConfirmed, Outcome::kNotConfirmed},
    // The broker lost the retained desired state and the push reused a revision.
    {"SameRevisionOfAnotherChangeIsNotOurs", Status{true, 1},
     Report(5, StationState::kVerified, {}, "older"), false, Outcome::kNotConfirmed,
     Outcome::kNotConfirmed},
    {"LostStationIsOffline", Status{false, 1}, Report(4, StationState::kVerified), false,
     Outcome::kWaiting, Outcome::kOffline},
    {"NeverSeenIsOffline", std::nullopt, std::nullopt, false, Outcome::kWaiting, Outcome::kOffline},
};

class StandingTest : public ::testing::TestWithParam<Standing> {};

TEST_P(StandingTest, JudgesRevisionFive) {
  StationView station{GetParam().status, std::nullopt, GetParam().reported, ""};
  EXPECT_EQ(Judge(station, 5, "c", GetParam().scheduled, false).outcome, GetParam().waiting);
  EXPECT_EQ(Judge(station, 5, "c", GetParam().scheduled, true).outcome, GetParam().final);
}

INSTANTIATE_TEST_SUITE_P(FleetView, StandingTest, ::testing::ValuesIn(kStandings),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(FleetView, NextRevisionIsAboveEveryOneKnown) {
  StationView station;
  EXPECT_EQ(station.NextRev(), 1);
  station.desired = Desired{3, "c", "i", {}, {}, {}};
  station.reported = Report(7, StationState::kScheduled, {{9, "c", {}}});
  EXPECT_EQ(station.NextRev(), 10);
}

}  // namespace
