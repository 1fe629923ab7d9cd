// The times that `--at`, effective_at and since take, against instants
// computed by hand (2026-12-09T03:00:00Z is 1796785200 s after the epoch).
#include <gtest/gtest.h>

#include "station/utc_instant.h"

namespace {

struct InstantCase {
  const char* text;
  std::optional<int64_t> ms;
};
void PrintTo(const InstantCase& c, std::ostream* out) { *out << c.text; }

class InstantTest : public ::testing::TestWithParam<InstantCase> {};

TEST_P(InstantTest, ParsesToTheSameMillisecond) {
  EXPECT_EQ(station::ParseInstant(GetParam().text), GetParam().ms);
}

constexpr int64_t kNineDecThreeUtc = 1796785200000;

INSTANTIATE_TEST_SUITE_P(
    Station, InstantTest,
    ::testing::Values(InstantCase{"2026-12-09T03:00:00Z", kNineDecThreeUtc},
                      InstantCase{"2026-12-09T06:00:00+03:00", kNineDecThreeUtc},
                      InstantCase{"2026-12-08T22:30:00-04:30", kNineDecThreeUtc},
                      InstantCase{"2026-12-09 03:00:00.25z", kNineDecThreeUtc + 250},
                      InstantCase{"2026-12-09T03:00:00.1239Z", kNineDecThreeUtc + 123},
                      InstantCase{"2026-12-09T03:00:00", std::nullopt},     // no zone
                      InstantCase{"2026-13-09T03:00:00Z", std::nullopt},    // month 13
                      InstantCase{"2026-12-09T03:00:00+3:00", std::nullopt},
                      InstantCase{"tomorrow", std::nullopt}));

TEST(InstantFormat, IsUtcWithMillisecondsAndReadsBack) {
  EXPECT_EQ(station::FormatInstant(kNineDecThreeUtc + 7), "2026-12-09T03:00:00.007Z");
  EXPECT_EQ(station::ParseInstant(station::FormatInstant(kNineDecThreeUtc + 7)), kNineDecThreeUtc + 7);
}

}  // namespace
