// The times that `--at`, effective_at, since and the fleet's documents take,
// against instants computed by hand (2026-12-09T03:00:00Z is 1796785200 s
// after the epoch).
#include "station/utc_instant.h"

#include <gtest/gtest.h>

#include "station/rfc3339.h"

namespace {

struct InstantCase {
  const char* text;
  std::optional<int64_t> ms;
};
void PrintTo(const InstantCase& c, std::ostream* out) { *out << c.text; }

class InstantTest : public ::testing::TestWithParam<InstantCase> {};

// Both readers are one: the fleet's time points give the same instant.
TEST_P(InstantTest, ParsesToTheSameMillisecond) {
  EXPECT_EQ(station::ParseInstant(GetParam().text), GetParam().ms);
  const auto wall = station::ParseRfc3339(GetParam().text);
  EXPECT_EQ(wall ? std::optional<int64_t>(wall->time_since_epoch().count()) : std::nullopt,
            GetParam().ms);
}

constexpr int64_t kNineDecThreeUtc = 1796785200000;

INSTANTIATE_TEST_SUITE_P(
    Station, InstantTest,
    ::testing::Values(InstantCase{"2026-12-09T03:00:00Z", kNineDecThreeUtc},
                      InstantCase{"2026-12-09T06:00:00+03:00", kNineDecThreeUtc},
                      InstantCase{"2026-12-08T22:30:00-04:30", kNineDecThreeUtc},
                      InstantCase{"2026-12-09 03:00:00.25z", kNineDecThreeUtc + 250},
                      InstantCase{"2026-12-09T03:00:00.1239Z", kNineDecThreeUtc + 123},
                      InstantCase{"2028-02-29T00:00:00Z", 1835395200000},  // a leap day
                      // Far future and far past, where nanoseconds since 1970 would wrap.
                      InstantCase{"2262-04-12T00:00:00Z", 9223372800000},
                      InstantCase{"9999-12-31T23:59:59.999Z", 253402300799999},
                      InstantCase{"0000-01-01T00:00:00Z", -62167219200000},
                      InstantCase{"1969-12-31T23:59:59.500Z", -500},
                      InstantCase{"2026-12-09T03:00:00", std::nullopt},   // no zone
                      InstantCase{"2026-13-09T03:00:00Z", std::nullopt},  // month 13
                      InstantCase{"2026-02-31T06:00:00Z", std::nullopt},  // no such day
                      InstantCase{"2027-02-29T06:00:00Z", std::nullopt},  // not a leap year
                      InstantCase{"2026-12-09T-1:-1:-1Z", std::nullopt},  // signed fields
                      InstantCase{"-001-01-01T00:00:00Z", std::nullopt},
                      InstantCase{"+2026-12-09T03:00:00Z", std::nullopt},
                      InstantCase{"2026-12-09T24:00:00Z", std::nullopt},
                      InstantCase{"2026-12-09T03:00:00+3:00", std::nullopt},
                      InstantCase{"2026-12-09T03:00:00+03:00:00", std::nullopt},
                      InstantCase{"2026-12-09T03:00:00+24:00", std::nullopt},
                      InstantCase{"2026-12-09T03:00:00.Z", std::nullopt},
                      InstantCase{"9999-12-31T23:59:59-01:00", std::nullopt},  // year 10000 in UTC
                      InstantCase{"0000-01-01T00:00:00+01:00", std::nullopt},  // year -1 in UTC
                      InstantCase{"tomorrow", std::nullopt}));

// What is written reads back as the same instant, before 1970 and up to 9999 too.
TEST(InstantFormat, IsUtcAndReadsBack) {
  for (const int64_t ms :
       {kNineDecThreeUtc + 7, int64_t{-500}, int64_t{253402300799999}, int64_t{-62167219200000}})
    EXPECT_EQ(station::ParseInstant(station::FormatInstant(ms)), ms) << station::FormatInstant(ms);
  EXPECT_EQ(station::FormatInstant(kNineDecThreeUtc + 7), "2026-12-09T03:00:00.007Z");
  EXPECT_EQ(station::FormatInstant(-500), "1969-12-31T23:59:59.500Z");
  EXPECT_EQ(station::Rfc3339Utc(*station::ParseRfc3339("2300-01-01T00:00:00Z")),
            "2300-01-01T00:00:00Z");
}

}  // namespace
