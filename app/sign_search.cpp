#include "app/sign_search.h"

#include <stdexcept>

#include "protocol/com_port_link.h"
#include "protocol/sign_probe.h"

namespace {

// Opens the named port; a port that is missing, busy or refused is skipped.
bool OpenCandidate(TComPort& port, const std::string& name) {
  try {
    port.SetPort(name);
    port.OpenPort();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::string SearchSign(TComPort& port, const sign_exchange::ExchangeContext& context,
                       int searchDelay) {
  ComPortLink link(port);
  std::string found;
  context.log("--- Поиск табло --- ");
  for (int number = 1; number <= kLastSearchedPort; ++number) {
    const std::string name = "COM" + std::to_string(number);
    if (!OpenCandidate(port, name)) continue;
    port.SetBaudRate(br19200);
    if (sign_exchange::ProbeAnswersLikeSign(link, context, searchDelay)) found = name;
  }
  return found;
}
