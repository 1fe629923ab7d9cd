#include "station/trace.h"

#include "station/utc_time.h"

namespace station {

void Tracer::Line(const std::string& port, bool sent, const std::string& bytes) {
  const std::string stamp = UtcTime("%H:%M:%S", "");
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

}  // namespace station
