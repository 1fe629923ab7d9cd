#pragma once
// Instants as the station's documents write them: RFC 3339 in, UTC with
// milliseconds out ("2026-12-09T03:00:00.000Z"), milliseconds since the epoch
// in between (what the agent stores).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace station {

// "2026-12-09T06:00:00+03:00", "2026-12-09T03:00:00Z", with an optional
// fraction of a second ("T" or a space between date and time); nothing for
// anything else.
std::optional<int64_t> ParseInstant(std::string_view text);

// UTC with milliseconds and "Z".
std::string FormatInstant(int64_t millisSinceEpoch);

}  // namespace station
