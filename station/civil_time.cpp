#include "station/civil_time.h"

#include <chrono>

namespace station {

namespace {

// Exactly `count` decimal digits (no sign, no space) at the front, consumed.
std::optional<int> Digits(std::string_view& text, size_t count) {
  if (text.size() < count) return std::nullopt;
  int value = 0;
  for (size_t i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  text.remove_prefix(count);
  return value;
}

bool Take(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

std::chrono::year_month_day Ymd(const CivilDate& date) {
  return {std::chrono::year(date.year), std::chrono::month(date.month), std::chrono::day(date.day)};
}

}  // namespace

std::optional<CivilDate> TakeDate(std::string_view& text) {
  std::string_view rest = text;
  const auto year = Digits(rest, 4);
  if (!year || !Take(rest, '-')) return std::nullopt;
  const auto month = Digits(rest, 2);
  if (!month || !Take(rest, '-')) return std::nullopt;
  const auto day = Digits(rest, 2);
  if (!day) return std::nullopt;
  const CivilDate date{*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day)};
  if (!Ymd(date).ok()) return std::nullopt;
  text = rest;
  return date;
}

std::optional<ClockTime> TakeClock(std::string_view& text, bool secondsOptional) {
  std::string_view rest = text;
  ClockTime clock;
  const auto hour = Digits(rest, 2);
  if (!hour || !Take(rest, ':')) return std::nullopt;
  const auto minute = Digits(rest, 2);
  if (!minute) return std::nullopt;
  clock.hour = *hour;
  clock.minute = *minute;
  if (Take(rest, ':')) {
    const auto second = Digits(rest, 2);
    if (!second) return std::nullopt;
    clock.second = *second;
    if (Take(rest, '.')) {
      size_t count = 0;
      for (; !rest.empty() && rest.front() >= '0' && rest.front() <= '9'; ++count) {
        if (count < 3) clock.millis = clock.millis * 10 + (rest.front() - '0');
        rest.remove_prefix(1);
      }
      if (count == 0) return std::nullopt;
      for (; count < 3; ++count) clock.millis *= 10;
    }
  } else if (!secondsOptional) {
    return std::nullopt;
  }
  if (clock.hour > 23 || clock.minute > 59 || clock.second > 60) return std::nullopt;
  text = rest;
  return clock;
}

int64_t DaysSinceEpoch(const CivilDate& date) {
  return std::chrono::sys_days(Ymd(date)).time_since_epoch().count();
}

CivilDate DateOfDay(int64_t days) {
  const std::chrono::year_month_day ymd{std::chrono::sys_days(std::chrono::days(days))};
  return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
          static_cast<unsigned>(ymd.day())};
}

int64_t UtcMillis(const CivilDate& date, const ClockTime& clock) {
  const int64_t seconds =
      DaysSinceEpoch(date) * 86400 + clock.hour * 3600 + clock.minute * 60 + clock.second;
  return seconds * 1000 + clock.millis;
}

}  // namespace station
