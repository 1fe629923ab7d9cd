#pragma once
// The sign search without its button: probes COM1..COM255 with the read
// request for panel 0 and names the last port that answered like a sign.

#include <string>

#include "protocol/exchange_context.h"
#include "serial/CPort.h"

inline constexpr int kLastSearchedPort = 255;

// Walks every port number to the end, tracing each probe in the log and
// leaving the port as the walk left it (open on the last port that could be
// opened only if that was COM255). searchDelay is only quoted in the log.
// Returns the found name, or "" when no port answered with "T0".
// Port errors other than a failed open end the search as EComPort.
std::string SearchSign(TComPort& port, const sign_exchange::ExchangeContext& context,
                       int searchDelay);
