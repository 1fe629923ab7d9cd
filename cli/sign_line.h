#pragma once
// One port opened on the sign for the program's exchanges: the sign's line
// settings, answers waited for by their length, --timeout for each.

#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/trace.h"
#include "protocol/com_port_link.h"
#include "protocol/exchange_context.h"
#include "serial/CPort.h"

namespace tarvo_cli {

class SignLine {
 public:
  // Opens the port; its errors leave as EComPort. tracer may be null.
  SignLine(const std::string& portName, const Options& options, Tracer* tracer);
  SignLine(const SignLine&) = delete;
  SignLine& operator=(const SignLine&) = delete;

  SignPort& Port() { return traced_ ? static_cast<SignPort&>(*traced_) : link_; }
  const sign_exchange::ExchangeContext& Context() const { return context_; }

 private:
  TComPort port_;
  ComPortLink link_{port_};
  std::optional<TracingPort> traced_;
  std::string replyBuffer_;
  sign_exchange::ExchangeContext context_;
};

}  // namespace tarvo_cli
