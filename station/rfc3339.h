#pragma once
// Times as the station's documents and options write them: RFC 3339, such as
// "2026-12-09T06:00:00+03:00"; stored and sent in UTC ("...T03:00:00Z").

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace station {

using WallTime = std::chrono::system_clock::time_point;

// A date, "T" (or "t", or a space), a time with optional fractions of a
// second, and "Z" or an offset "+03:00"; nothing for anything else, or for a
// day or time that does not exist.
std::optional<WallTime> ParseRfc3339(std::string_view text);

// "2026-12-09T03:00:00Z", with ".123" when the time has milliseconds.
std::string Rfc3339Utc(WallTime time);

}  // namespace station
