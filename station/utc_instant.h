#pragma once
// Instants as the station's documents write them: RFC 3339 in, UTC with
// milliseconds out ("2026-12-09T03:00:00.000Z"), milliseconds since the epoch
// in between (what the agent stores and the fleet's documents carry), within
// the years 0000..9999 (station/civil_time.h).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace station {

// "2026-12-09T06:00:00+03:00", "2026-12-09T03:00:00Z", with an optional
// fraction of a second ("T", "t" or a space between date and time); nothing
// for anything else, for a day or time that does not exist, or for an
// instant outside the years 0000..9999.
std::optional<int64_t> ParseInstant(std::string_view text);

enum class Millis { kAlways, kWhenAny };

// UTC with "Z": ".000" always, or (kWhenAny) only when there are milliseconds.
std::string FormatInstant(int64_t millisSinceEpoch, Millis millis = Millis::kAlways);

// The zone of an RFC 3339 time at the front of `text`, consumed: "Z" or
// "+03:00" as minutes east of UTC.
std::optional<int> TakeZone(std::string_view& text);

}  // namespace station
