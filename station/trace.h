#pragma once
// --trace: every message sent to the sign and every answer taken, on stderr,
// with a millisecond time stamp and the port, the bytes as the exchange log
// writes them.

#include <mutex>
#include <ostream>
#include <string>

#include "protocol/sign_port.h"

namespace station {

// One sink for all ports; find probes them from several threads at once.
class Tracer {
 public:
  explicit Tracer(std::ostream& err) : err_(err) {}
  // "09:30:00.123 COM3 > R0E" (sent) or "... < T0..." (received).
  void Line(const std::string& port, bool sent, const std::string& bytes);

 private:
  std::ostream& err_;
  std::mutex mutex_;
};

// A sign port that tells the tracer what passes through it.
class TracingPort final : public SignPort {
 public:
  TracingPort(SignPort& inner, Tracer& tracer, std::string name)
      : inner_(inner), tracer_(tracer), name_(std::move(name)) {}
  void PurgeBuffers(bool input, bool output) override { inner_.PurgeBuffers(input, output); }
  int32_t SendText(const std::string& text) override;
  int32_t InputQueueCount() override { return inner_.InputQueueCount(); }
  int32_t ReadBytes(std::string& text, int32_t count) override;
  int32_t WaitForInput(int32_t count, int timeoutMs) override {
    return inner_.WaitForInput(count, timeoutMs);
  }

 private:
  SignPort& inner_;
  Tracer& tracer_;
  std::string name_;
};

}  // namespace station
