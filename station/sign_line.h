#pragma once
// One port opened on the sign for the program's exchanges: the sign's line
// settings, answers waited for by their length, --timeout for each.

#include <optional>
#include <string>

#include "station/trace.h"
#include "protocol/com_port_link.h"
#include "protocol/exchange_context.h"
#include "serial/CPort.h"

namespace station {

// A send refused because a stop signal came: nothing more goes on the line.
struct SendingStopped {};

// Passes everything through; a send after more stop signals than allowed
// is refused with SendingStopped.
class StopGate final : public SignPort {
 public:
  explicit StopGate(SignPort& inner) : inner_(inner) {}
  void Allow(int signals) { allowed_ = signals; }
  void PurgeBuffers(bool input, bool output) override { inner_.PurgeBuffers(input, output); }
  int32_t SendText(const std::string& text) override;
  int Sends() const { return sends_; }
  int32_t InputQueueCount() override { return inner_.InputQueueCount(); }
  int32_t ReadBytes(std::string& text, int32_t count) override {
    return inner_.ReadBytes(text, count);
  }
  int32_t WaitForInput(int32_t count, int timeoutMs) override {
    return inner_.WaitForInput(count, timeoutMs);
  }

 private:
  SignPort& inner_;
  int allowed_ = -1;  // no limit
  int sends_ = 0;
};

class SignLine {
 public:
  // Opens the port; its errors leave as EComPort. tracer may be null.
  SignLine(const std::string& portName, int timeoutMs, Tracer* tracer);
  SignLine(const SignLine&) = delete;
  SignLine& operator=(const SignLine&) = delete;

  SignPort& Port() { return *gate_; }
  // From now on a send after more than `signals` stop signals is refused
  // (see stop_signals.h).
  void StopSendingAfter(int signals) { gate_->Allow(signals); }
  // The messages sent so far.
  int Sends() const { return gate_->Sends(); }
  const sign_exchange::ExchangeContext& Context() const { return context_; }

 private:
  TComPort port_;
  ComPortLink link_{port_};
  std::optional<TracingPort> traced_;
  std::optional<StopGate> gate_;
  std::string replyBuffer_;
  sign_exchange::ExchangeContext context_;
};

}  // namespace station
