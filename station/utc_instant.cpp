#include "station/utc_instant.h"

#include <cstdio>

#include "station/civil_time.h"

namespace station {

std::optional<int> TakeZone(std::string_view& text) {
  if (text.empty()) return std::nullopt;
  if (text.front() == 'Z' || text.front() == 'z') {
    text.remove_prefix(1);
    return 0;
  }
  if (text.front() != '+' && text.front() != '-') return std::nullopt;
  const int sign = text.front() == '-' ? -1 : 1;
  std::string_view rest = text.substr(1);
  // An offset reads as a time of day without seconds.
  const std::optional<ClockTime> offset = TakeClock(rest, true);
  if (!offset || offset->second != 0 || rest.size() + 6 != text.size()) return std::nullopt;
  text = rest;
  return sign * (offset->hour * 60 + offset->minute);
}

std::optional<int64_t> ParseInstant(std::string_view text) {
  const std::optional<CivilDate> date = TakeDate(text);
  if (!date || text.empty() || (text.front() != 'T' && text.front() != 't' && text.front() != ' '))
    return std::nullopt;
  text.remove_prefix(1);
  const std::optional<ClockTime> clock = TakeClock(text, false);
  if (!clock) return std::nullopt;
  const std::optional<int> offsetMinutes = TakeZone(text);
  if (!offsetMinutes || !text.empty()) return std::nullopt;
  const int64_t ms = UtcMillis(*date, *clock) - int64_t{*offsetMinutes} * 60000;
  if (!InInstantRange(ms)) return std::nullopt;
  return ms;
}

std::string FormatInstant(int64_t millisSinceEpoch, Millis millis) {
  // Floor division, so instants before 1970 keep their day and time.
  int64_t days = millisSinceEpoch / 86400000;
  int64_t inDay = millisSinceEpoch % 86400000;
  if (inDay < 0) {
    inDay += 86400000;
    --days;
  }
  const CivilDate date = DateOfDay(days);
  const int ms = static_cast<int>(inDay % 1000);
  const int seconds = static_cast<int>(inDay / 1000);
  char text[48];
  int length = std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", date.year,
                             date.month, date.day, seconds / 3600, seconds / 60 % 60, seconds % 60);
  if (millis == Millis::kAlways || ms != 0)
    length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length), ".%03d", ms);
  return std::string(text, static_cast<size_t>(length)) + "Z";
}

}  // namespace station
