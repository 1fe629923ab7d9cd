#pragma once
// Times as the fleet's documents carry them: station/utc_instant.h's
// instants as a time point of the system clock, in milliseconds so that no
// instant up to 9999-12-31 wraps (nanoseconds would past 2262).

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace station {

using WallTime = std::chrono::sys_time<std::chrono::milliseconds>;

// The system clock's now, to the millisecond.
inline WallTime WallNow() { return std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now()); }

// ParseInstant's times.
std::optional<WallTime> ParseRfc3339(std::string_view text);

// "2026-12-09T03:00:00Z", with ".123" when the time has milliseconds.
std::string Rfc3339Utc(WallTime time);

}  // namespace station
