#include "station/rfc3339.h"

#include "station/utc_instant.h"

namespace station {

std::optional<WallTime> ParseRfc3339(std::string_view text) {
  const std::optional<int64_t> ms = ParseInstant(text);
  if (!ms) return std::nullopt;
  return WallTime(std::chrono::milliseconds(*ms));
}

std::string Rfc3339Utc(WallTime time) {
  return FormatInstant(time.time_since_epoch().count(), Millis::kWhenAny);
}

}  // namespace station
