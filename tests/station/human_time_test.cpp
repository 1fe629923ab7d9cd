// The times a person gives --at, in a zone set by the test, against instants
// computed by hand: "now" is 2026-12-09 10:00 in Moscow (UTC+3 all year)
// unless a case says otherwise; Berlin skips 02:00..03:00 on 2026-03-29.
#include "station/human_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

constexpr int64_t kNowInMoscow = 1796799600000;          // 2026-12-09T10:00:00+03:00
constexpr int64_t kTomorrowSixInMoscow = 1796871600000;  // 2026-12-10T06:00:00+03:00

void UseZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

struct WhenCase {
  const char* zone;
  int64_t now;
  const char* text;
  std::optional<int64_t> ms;
};
void PrintTo(const WhenCase& c, std::ostream* out) { *out << c.zone << " " << c.text << " from " << c.now; }

class WhenTest : public ::testing::TestWithParam<WhenCase> {};

TEST_P(WhenTest, IsTheInstantAPersonMeans) {
  UseZone(GetParam().zone);
  EXPECT_EQ(station::ParseWhen(GetParam().text, GetParam().now), GetParam().ms);
}

INSTANTIATE_TEST_SUITE_P(
    Station, WhenTest,
    ::testing::Values(
        WhenCase{"Europe/Moscow", kNowInMoscow, "06:00",
                 kTomorrowSixInMoscow},  // passed today: tomorrow's
        WhenCase{"Europe/Moscow", kNowInMoscow, "18:30", 1796830200000},  // still to come today
        WhenCase{"Europe/Moscow", kNowInMoscow, "10:00",
                 kNowInMoscow + 86400000},  // now is not "next"
        WhenCase{"Europe/Moscow", kNowInMoscow, "tomorrow 06:00", kTomorrowSixInMoscow},
        WhenCase{"Europe/Moscow", kNowInMoscow, "today 06:00", 1796785200000},
        WhenCase{"Europe/Moscow", kNowInMoscow, "2026-12-10 06:00", kTomorrowSixInMoscow},
        WhenCase{"Europe/Moscow", kNowInMoscow, "2026-12-10 06:00:30",
                 kTomorrowSixInMoscow + 30000},
        WhenCase{"Europe/Moscow", kNowInMoscow, "2026-12-10T03:00:00Z", kTomorrowSixInMoscow},
        WhenCase{"Europe/Moscow", 1798747200000, "06:00", 1798772400000},  // over the new year
        WhenCase{"Europe/Berlin", 1774695600000, "2026-03-29 03:30", 1774747800000},
        WhenCase{"Europe/Berlin", 1774695600000, "2026-03-29 02:30",
                 std::nullopt},  // skipped by the clock
        WhenCase{"Europe/Moscow", kNowInMoscow, "6:00", std::nullopt},
        WhenCase{"Europe/Moscow", kNowInMoscow, "06:00 tomorrow", std::nullopt},
        WhenCase{"Europe/Moscow", kNowInMoscow, "tomorrow", std::nullopt},
        WhenCase{"Europe/Moscow", kNowInMoscow, "24:00", std::nullopt},
        WhenCase{"Europe/Moscow", kNowInMoscow, "2026-02-31 06:00", std::nullopt},
        WhenCase{"Europe/Moscow", kNowInMoscow, "2026-12-10T06:00",
                 std::nullopt},  // a T wants a zone
        WhenCase{"Europe/Moscow", kNowInMoscow, "", std::nullopt}));

TEST(LocalInstant, ShowsTheOffsetOfThatDay) {
  UseZone("Europe/Moscow");
  EXPECT_EQ(station::LocalInstant(kTomorrowSixInMoscow), "2026-12-10T06:00:00+03:00");
  UseZone("Europe/Berlin");
  EXPECT_EQ(station::LocalInstant(1774747800000), "2026-03-29T03:30:00+02:00");
  EXPECT_EQ(station::LocalInstant(1774695600250), "2026-03-28T12:00:00.250+01:00");
  UseZone("America/St_Johns");
  EXPECT_EQ(station::LocalInstant(kTomorrowSixInMoscow), "2026-12-09T23:30:00-03:30");
}

}  // namespace
