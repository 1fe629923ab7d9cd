#pragma once
// The time now in UTC with milliseconds, in the form a caller names: the
// journal's full stamp and the trace's time of day are the same clock.

#include <string>

namespace station {

// strftime's `format` of the time now, then "." and the milliseconds, then
// `suffix`: ("%H:%M:%S", "") gives "09:30:00.123".
std::string UtcTime(const char* format, const char* suffix);

// 2026-12-08T09:30:00.123Z.
inline std::string UtcTimeStamp() { return UtcTime("%Y-%m-%dT%H:%M:%S", "Z"); }

}  // namespace station
