// The history in words, from event documents as the agent stores them.
#include "cli/history_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

namespace {

using nlohmann::json;

json Panel(int address, const char* price, const char* grade) {
  return {
      {"address", address}, {"ok", true}, {"price", price}, {"grade", grade}, {"inscription", 0}};
}

json Outcome(int address, const char* price, bool verified, json shown = nullptr) {
  return {{"address", address},
          {"wanted", Panel(address, price, "95")},
          {"shown", shown},
          {"sent", true},
          {"verified", verified}};
}

struct EventCase {
  const char* name;
  json event;
  const char* text;
};
void PrintTo(const EventCase& c, std::ostream* out) { *out << c.name; }

class EventTextTest : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventTextTest, SaysWhatHappened) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(tarvo_cli::EventText(GetParam().event), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, EventTextTest,
    ::testing::Values(
        EventCase{"AppliedBothHalves",
                  {{"kind", "applied"}, {"rev", 8},
                   {"detail", {{"panels", {Outcome(4, "45.60", true), Outcome(12, "45.60", true)}}}}},
                  "applied rev 8: row 1 95 45.60 verified both halves"},
        EventCase{"AppliedOneHalfUnverified",
                  {{"kind", "applied"}, {"rev", 8},
                   {"detail", {{"panels", {Outcome(4, "45.60", true), Outcome(12, "45.60", false)}}},
                               {"brightness", {{"level", 7}, {"verified", true}}}}}},
                  "applied rev 8: row 1 half 1 95 45.60 verified, row 1 half 2 95 45.60 NOT verified, "
                  "brightness 7 verified"
}
,
    EventCase{"AppliedNothingToSend",
              {{"kind", "applied"}, {"rev", 3}, {"detail", {{"panels", json::array()}}}},
              "applied rev 3: the sign held every panel already"},
    EventCase{"Scheduled",
              {{"kind", "change scheduled"},
               {"rev", 9},
               {"detail",
                {{"issuer", "anna"},
                 {"effective_at", "2026-12-10T06:00:00.000Z"},
                 {"panels", {Panel(4, "45.60", "95"), Panel(12, "45.60", "95")}},
                 {"brightness", nullptr}}}},
              "change scheduled rev 9: for 2026-12-10T06:00:00+00:00 by anna: row 1 95 45.60 both "
              "halves"},
    EventCase{"DriftFound",
              {{"kind", "drift found"},
               {"rev", 8},
               {"detail", {{"panels", {Outcome(12, "45.60", false, Panel(12, "99.01", "95"))}}}}},
              "drift found rev 8: row 1 half 2 showed 95 99.01, not 95 45.60"},
    EventCase{"PortHeld",
              {{"kind", "port held"},
               {"rev", nullptr},
               {"detail",
                {{"port", "COM3"}, {"device", "/dev/ttyUSB0"}, {"holder", "minicom (pid 42)"}}}}},
    "port held: COM3 (/dev/ttyUSB0) by minicom (pid 42)"
},
        EventCase{"Cancelled", {{"kind", "change cancelled"}, {"rev", 9}, {"detail", {{"id", "4e4b"}, {"by", "root"}}}},
                  "change cancelled rev 9: change 4e4b by root"},
        EventCase{"Stopped", {{"kind", "agent stopped"}, {"rev", nullptr}, {"detail", json::object()}},
                  "agent stopped"},
        // A kind this program does not know keeps its detail.
        EventCase{"Unknown", {{"kind", "sign replaced"}, {"rev", 2}, {"detail", {{"serial", "Z408-1"}}}},
                  "sign replaced rev 2: {\"serial\":\"Z408-1\"}"}));

TEST(History, DatesEachDayOnceAndGivesTimesOfDay) {
  setenv("TZ", "Europe/Moscow", 1);
  tzset();
  const json stop = {{"kind", "agent stopped"}, {"rev", nullptr}, {"detail", json::object()}};
  json events = json::array();
  for (const char* at :
       {"2026-12-08T20:59:00.000Z", "2026-12-08T21:00:00.000Z", "2026-12-09T03:00:00.000Z"}) {
    json event = stop;
    event["at"] = at;
    events.push_back(event);
  }
  std::ostringstream out;
  tarvo_cli::PrintHistory(out, events);
  EXPECT_EQ(out.str(),
            "2026-12-08\n23:59:00 agent stopped\n2026-12-09\n00:00:00 agent stopped\n06:00:00 "
            "agent stopped\n");
}

}  // namespace
