#include "station/human_time.h"

#include <cstdio>
#include <ctime>

#include "station/civil_time.h"
#include "station/utc_instant.h"

namespace station {

namespace {

bool TakeWord(std::string_view& text, std::string_view word) {
  if (text.substr(0, word.size()) != word) return false;
  text.remove_prefix(word.size());
  return true;
}

std::tm LocalFields(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

CivilDate DateOf(const std::tm& local) {
  return {local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
          static_cast<unsigned>(local.tm_mday)};
}

// The instant of a local date and time; nothing for one the clock skips.
std::optional<int64_t> LocalMillis(const CivilDate& date, const ClockTime& clock) {
  std::tm fields{};
  fields.tm_year = date.year - 1900;
  fields.tm_mon = static_cast<int>(date.month) - 1;
  fields.tm_mday = static_cast<int>(date.day);
  fields.tm_hour = clock.hour;
  fields.tm_min = clock.minute;
  fields.tm_sec = clock.second == 60 ? 59 : clock.second;
  fields.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&fields);
  const int64_t ms = int64_t{seconds} * 1000 + (clock.second == 60 ? 1000 : 0) + clock.millis;
  // mktime moves a skipped time (02:30 on the night of a change) elsewhere.
  const std::tm back = LocalFields(int64_t{seconds} * 1000);
  if (back.tm_hour != clock.hour || back.tm_min != clock.minute ||
      back.tm_mday != static_cast<int>(date.day) || !InInstantRange(ms))
    return std::nullopt;
  return ms;
}

CivilDate DaysAfter(const CivilDate& date, int64_t days) {
  return DateOfDay(DaysSinceEpoch(date) + days);
}

}  // namespace

std::optional<int64_t> ParseWhen(std::string_view text, int64_t nowMs) {
  if (const std::optional<int64_t> instant = ParseInstant(text)) return instant;
  const CivilDate today = DateOf(LocalFields(nowMs));
  std::optional<CivilDate> date;
  if (TakeWord(text, "today ")) {
    date = today;
  } else if (TakeWord(text, "tomorrow ")) {
    date = DaysAfter(today, 1);
  } else {
    date = TakeDate(text);
    if (date && !TakeWord(text, " ")) return std::nullopt;
  }
  const std::optional<ClockTime> clock = TakeClock(text, true);
  if (!clock || !text.empty()) return std::nullopt;
  if (date) return LocalMillis(*date, *clock);
  // A time alone is its next occurrence: today's if it is still to come.
  const std::optional<int64_t> todays = LocalMillis(today, *clock);
  if (todays && *todays > nowMs) return todays;
  return LocalMillis(DaysAfter(today, 1), *clock);
}

std::string LocalInstant(int64_t ms) {
  const std::tm local = LocalFields(ms);
  const long offset = local.tm_gmtoff / 60;
  const long east = offset < 0 ? -offset : offset;
  const int millis = static_cast<int>(((ms % 1000) + 1000) % 1000);
  char fraction[8] = "";
  if (millis != 0) std::snprintf(fraction, sizeof fraction, ".%03d", millis);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%s%c%02ld:%02ld",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, fraction, offset < 0 ? '-' : '+', east / 60, east % 60);
  return text;
}

}  // namespace station
