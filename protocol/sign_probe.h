#pragma once
// The search's question to one port: the read request for panel 0, and
// whether what came back starts like a sign's reply.

#include "protocol/exchange_context.h"
#include "protocol/sign_port.h"

namespace sign_exchange {

// Sends the probe and takes what came back into the reply buffer, tracing it
// in the log; true when the answer begins with "T0". The line's speed is the
// caller's to set. searchDelay is only quoted in the log of the paced polls.
bool ProbeAnswersLikeSign(SignPort& port, const ExchangeContext& context, int searchDelay);

}  // namespace sign_exchange
