#include "station/utc_time.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace station {

std::string UtcTime(const char* format, const char* suffix) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  const size_t length = std::strftime(text, sizeof text, format, &utc);
  std::snprintf(text + length, sizeof text - length, ".%03d%s", static_cast<int>(millis), suffix);
  return text;
}

}  // namespace station
