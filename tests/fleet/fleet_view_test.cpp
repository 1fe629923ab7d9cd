// The head office's view of a station: which status stands.
#include "fleet_push/fleet_view.h"

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

}  // namespace
