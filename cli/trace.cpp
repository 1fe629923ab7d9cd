#include "cli/trace.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace tarvo_cli {

void Tracer::Line(const std::string& port, bool sent, const std::string& bytes) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  const std::lock_guard<std::mutex> lock(mutex_);
  err_ << stamp << ' ' << port << (sent ? " > " : " < ") << bytes << '\n' << std::flush;
}

int32_t TracingPort::SendText(const std::string& text) {
  tracer_.Line(name_, true, text);
  return inner_.SendText(text);
}

int32_t TracingPort::ReadBytes(std::string& text, int32_t count) {
  const int32_t read = inner_.ReadBytes(text, count);
  tracer_.Line(name_, false, text);
  return read;
}

}  // namespace tarvo_cli
