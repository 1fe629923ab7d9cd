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
  return {{"address", address}, {"wanted", Panel(address, price, "95")}, {"shown", shown},
          {"sent", true}, {"verified", verified}};
}

json Event(const char* kind, json rev, json detail) {
  return {{"kind", kind}, {"rev", rev}, {"detail", detail}};
}

json Panels(const std::vector<json>& panels) {
  json list = json::array();
  for (const json& panel : panels) list.push_back(panel);
  return {{"panels", list}};
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

json WithBrightness(json detail) {
  detail["brightness"] = {{"level", 7}, {"verified", true}};
  return detail;
}

json ScheduledDetail() {
  json detail = Panels({Panel(4, "45.60", "95"), Panel(12, "45.60", "95")});
  detail["issuer"] = "anna";
  detail["effective_at"] = "2026-12-10T06:00:00.000Z";
  detail["brightness"] = nullptr;
  return detail;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, EventTextTest,
    ::testing::Values(
        EventCase{"AppliedBothHalves",
                  Event("applied", 8, Panels({Outcome(4, "45.60", true), Outcome(12, "45.60", true)})),
                  "applied rev 8: row 1 95 45.60 verified both halves"},
        EventCase{"AppliedOneHalfUnverified",
                  Event("applied", 8,
                        WithBrightness(Panels({Outcome(4, "45.60", true), Outcome(12, "45.60", false)}))),
                  "applied rev 8: row 1 half 1 95 45.60 verified, row 1 half 2 95 45.60 NOT verified, "
                  "brightness 7 verified"},
        EventCase{"AppliedNothingToSend", Event("applied", 3, Panels({})),
                  "applied rev 3: the sign held every panel already"},
        EventCase{"Scheduled", Event("change scheduled", 9, ScheduledDetail()),
                  "change scheduled rev 9: for 2026-12-10T06:00:00+00:00 by anna: row 1 95 45.60 both halves"},
        EventCase{"DriftFound",
                  Event("drift found", 8, Panels({Outcome(12, "45.60", false, Panel(12, "99.01", "95"))})),
                  "drift found rev 8: row 1 half 2 showed 95 99.01, not 95 45.60"},
        EventCase{"PortHeld",
                  Event("port held", nullptr,
                        {{"port", "COM3"}, {"device", "/dev/ttyUSB0"}, {"holder", "minicom (pid 42)"}}),
                  "port held: COM3 (/dev/ttyUSB0) by minicom (pid 42)"},
        EventCase{"Cancelled", Event("change cancelled", 9, {{"id", "4e4b"}, {"by", "root"}}),
                  "change cancelled rev 9: change 4e4b by root"},
        EventCase{"Stopped", Event("agent stopped", nullptr, json::object()), "agent stopped"},
        // A kind this program does not know keeps its detail.
        EventCase{"Unknown", Event("sign replaced", 2, {{"serial", "Z408-1"}}),
                  "sign replaced rev 2: {\"serial\":\"Z408-1\"}"}));

TEST(History, DatesEachDayOnceAndGivesTimesOfDay) {
  setenv("TZ", "Europe/Moscow", 1);
  tzset();
  const json stop = Event("agent stopped", nullptr, json::object());
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
