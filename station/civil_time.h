#pragma once
// The fields of a date and a time of day as people and RFC 3339 write them
// ("2026-12-09", "06:00", "06:00:00.250"), read strictly: fixed digit counts,
// no signs, only days and times that exist. The one reader behind every time
// the station's programs take.

#include <cstdint>
#include <optional>
#include <string_view>

namespace station {

struct CivilDate {
  int year = 0;  // 0000..9999
  unsigned month = 1;
  unsigned day = 1;
};

struct ClockTime {
  int hour = 0;
  int minute = 0;
  int second = 0;  // 60, a leap second, is taken as the second after
  int millis = 0;  // further digits of a fraction are dropped
};

// "YYYY-MM-DD" at the front of `text`, consumed; nothing for a day that does not exist.
std::optional<CivilDate> TakeDate(std::string_view& text);

// "HH:MM:SS" with an optional fraction at the front of `text`, consumed;
// with `secondsOptional`, "HH:MM" too.
std::optional<ClockTime> TakeClock(std::string_view& text, bool secondsOptional);

// Days since 1970-01-01 of a valid date.
int64_t DaysSinceEpoch(const CivilDate& date);
// The date `days` after 1970-01-01.
CivilDate DateOfDay(int64_t days);

// Milliseconds since the epoch of that date and time read as UTC.
int64_t UtcMillis(const CivilDate& date, const ClockTime& clock);

// The instants every reader accepts: 0000-01-01T00:00:00Z to
// 9999-12-31T23:59:59.999Z, what four digits of a year can write back. Far
// from any overflow of the milliseconds (or microseconds) they are kept in.
inline constexpr int64_t kEarliestInstantMs = -62167219200000;
inline constexpr int64_t kLatestInstantMs = 253402300799999;
inline bool InInstantRange(int64_t ms) {
  return ms >= kEarliestInstantMs && ms <= kLatestInstantMs;
}

}  // namespace station
