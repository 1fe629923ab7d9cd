#include "station/sign_line.h"

#include "station/stop_signals.h"

namespace station {

namespace {

sign_exchange::ExchangeContext ContextFor(std::string& replyBuffer, int timeoutMs) {
  sign_exchange::ExchangeContext context{replyBuffer, [timeoutMs] { return timeoutMs / 2; },
                                         [](const std::string&) {}, [](int) {}};
  context.wait = sign_exchange::AnswerWait::ForBytes;
  context.answerTimeoutMs = timeoutMs;
  return context;
}

}  // namespace

SignLine::SignLine(const std::string& portName, int timeoutMs, Tracer* tracer)
    : context_(ContextFor(replyBuffer_, timeoutMs)) {
  port_.SetPort(portName);
  port_.SetBaudRate(br19200);
  port_.SetDiscardNull(true);
  // No line events are watched: no event thread is needed.
  port_.SetEvents({});
  port_.OpenPort();
  if (tracer != nullptr) traced_.emplace(link_, *tracer, portName);
  gate_.emplace(traced_ ? static_cast<SignPort&>(*traced_) : link_);
}

int32_t StopGate::SendText(const std::string& text) {
  if (allowed_ >= 0 && StopsCaught() > allowed_) throw SendingStopped{};
  const int32_t sent = inner_.SendText(text);
  ++sends_;
  return sent;
}

}  // namespace station
