#include "station/rfc3339.h"

#include <charconv>
#include <cstdio>

namespace station {

namespace {

// Reads `count` decimal digits at `at` and moves past them.
std::optional<int> Digits(std::string_view text, size_t& at, size_t count) {
  int value = 0;
  if (at + count > text.size()) return std::nullopt;
  const char* begin = text.data() + at;
  for (size_t i = 0; i < count; ++i)
    if (begin[i] < '0' || begin[i] > '9') return std::nullopt;
  std::from_chars(begin, begin + count, value);
  at += count;
  return value;
}

bool Expect(std::string_view text, size_t& at, std::string_view choices) {
  if (at >= text.size() || choices.find(text[at]) == std::string_view::npos) return false;
  ++at;
  return true;
}

}  // namespace

std::optional<WallTime> ParseRfc3339(std::string_view text) {
  using namespace std::chrono;
  size_t at = 0;
  const auto year = Digits(text, at, 4);
  if (!year || !Expect(text, at, "-")) return std::nullopt;
  const auto month = Digits(text, at, 2);
  if (!month || !Expect(text, at, "-")) return std::nullopt;
  const auto day = Digits(text, at, 2);
  if (!day || !Expect(text, at, "Tt ")) return std::nullopt;
  const auto hour = Digits(text, at, 2);
  if (!hour || !Expect(text, at, ":")) return std::nullopt;
  const auto minute = Digits(text, at, 2);
  if (!minute || !Expect(text, at, ":")) return std::nullopt;
  const auto second = Digits(text, at, 2);
  if (!second) return std::nullopt;
  milliseconds fraction{0};
  if (Expect(text, at, ".")) {
    const size_t first = at;
    int scale = 100;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      fraction += milliseconds((text[at] - '0') * scale);
      scale /= 10;
      ++at;
    }
    if (at == first) return std::nullopt;
  }
  minutes offset{0};
  if (!Expect(text, at, "Zz")) {
    if (at >= text.size() || (text[at] != '+' && text[at] != '-')) return std::nullopt;
    const int sign = text[at++] == '-' ? -1 : 1;
    const auto offsetHours = Digits(text, at, 2);
    if (!offsetHours || !Expect(text, at, ":")) return std::nullopt;
    const auto offsetMinutes = Digits(text, at, 2);
    if (!offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) return std::nullopt;
    offset = minutes(sign * (*offsetHours * 60 + *offsetMinutes));
  }
  const year_month_day date{std::chrono::year(*year),
                            std::chrono::month(static_cast<unsigned>(*month)),
                            std::chrono::day(static_cast<unsigned>(*day))};
  // A leap second (60) is taken as the second after.
  if (at != text.size() || !date.ok() || *hour > 23 || *minute > 59 || *second > 60)
    return std::nullopt;
  return sys_days(date) + hours(*hour) + minutes(*minute) + seconds(*second) + fraction - offset;
}

std::string Rfc3339Utc(WallTime time) {
  using namespace std::chrono;
  const auto millis = floor<milliseconds>(time);
  const sys_days date = floor<days>(millis);
  const year_month_day ymd(date);
  const hh_mm_ss clock(millis - date);
  char text[40];
  const int length = std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(ymd.year()),
      static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()));
  std::string result(text, static_cast<size_t>(length));
  if (const auto ms = clock.subseconds().count(); ms != 0) {
    std::snprintf(text, sizeof text, ".%03d", static_cast<int>(ms));
    result += text;
  }
  return result + "Z";
}

}  // namespace station
