#include "station/utc_instant.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace station {

namespace {

// Exactly `digits` decimal digits at the front of text, consumed.
std::optional<int> Digits(std::string_view& text, size_t digits) {
  if (text.size() < digits) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + digits, value);
  if (error != std::errc() || end != text.data() + digits) return std::nullopt;
  text.remove_prefix(digits);
  return value;
}

bool Take(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

bool TakeEither(std::string_view& text, char a, char b) { return Take(text, a) || Take(text, b); }

}  // namespace

std::optional<int64_t> ParseInstant(std::string_view text) {
  std::tm fields{};
  const auto year = Digits(text, 4);
  if (!year || !Take(text, '-')) return std::nullopt;
  const auto month = Digits(text, 2);
  if (!month || !Take(text, '-')) return std::nullopt;
  const auto day = Digits(text, 2);
  if (!day || !(TakeEither(text, 'T', 't') || Take(text, ' '))) return std::nullopt;
  const auto hour = Digits(text, 2);
  if (!hour || !Take(text, ':')) return std::nullopt;
  const auto minute = Digits(text, 2);
  if (!minute || !Take(text, ':')) return std::nullopt;
  const auto second = Digits(text, 2);
  if (!second || *month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 ||
      *minute > 59 || *second > 60)
    return std::nullopt;
  int millis = 0;
  if (Take(text, '.')) {
    size_t count = 0;
    for (; !text.empty() && text.front() >= '0' && text.front() <= '9'; ++count) {
      if (count < 3) millis = millis * 10 + (text.front() - '0');
      text.remove_prefix(1);
    }
    if (count == 0) return std::nullopt;
    for (; count < 3; ++count) millis *= 10;
  }
  int offsetMinutes = 0;
  if (!TakeEither(text, 'Z', 'z')) {
    const bool east = Take(text, '+');
    if (!east && !Take(text, '-')) return std::nullopt;
    const auto offsetHours = Digits(text, 2);
    if (!offsetHours || !Take(text, ':')) return std::nullopt;
    const auto offsetRest = Digits(text, 2);
    if (!offsetRest || *offsetHours > 23 || *offsetRest > 59) return std::nullopt;
    offsetMinutes = (east ? 1 : -1) * (*offsetHours * 60 + *offsetRest);
  }
  if (!text.empty()) return std::nullopt;
  fields.tm_year = *year - 1900;
  fields.tm_mon = *month - 1;
  fields.tm_mday = *day;
  fields.tm_hour = *hour;
  fields.tm_min = *minute;
  fields.tm_sec = *second;
  const int64_t seconds = static_cast<int64_t>(timegm(&fields)) - offsetMinutes * 60;
  return seconds * 1000 + millis;
}

std::string FormatInstant(int64_t millisSinceEpoch) {
  const std::time_t seconds = static_cast<std::time_t>(millisSinceEpoch / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[48];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + length, sizeof text - length, ".%03dZ",
                static_cast<int>(millisSinceEpoch % 1000));
  return text;
}

}  // namespace station
