#pragma once
// Times a person writes for --at, read the same by tarvo-cli and tarvo-fleet:
// "06:00" (the next 06:00 local time), "today 06:00", "tomorrow 06:00",
// "2026-12-10 06:00" (local time; seconds may be given), or an RFC 3339 time
// with its zone. Local time is the TZ of the process.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace station {

// Milliseconds since the epoch; nothing for anything else, for a local time
// that the clock skips (a summer-time change), or outside the years 0000..9999.
std::optional<int64_t> ParseWhen(std::string_view text, int64_t nowMs);

// The instant in local time with its offset: "2026-12-10T06:00:00+03:00".
std::string LocalInstant(int64_t ms);

}  // namespace station
