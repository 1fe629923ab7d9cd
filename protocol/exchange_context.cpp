#include "protocol/exchange_context.h"

#include <chrono>
#include <thread>

namespace sign_exchange {

void SleepReadDelay(const ExchangeContext& context) {
  std::this_thread::sleep_for(std::chrono::milliseconds(context.readDelayMs()));
}

int32_t WaitForAnswer(SignPort& port, const ExchangeContext& context, int32_t length) {
  const int32_t queued = port.WaitForInput(length, context.answerTimeoutMs);
  context.log(QueuedLine(queued));
  return queued;
}

std::string QueuedLine(int32_t count) { return "Принято символов:" + std::to_string(count); }

std::string PollSummaryLine(int polls, int delayMs) {
  return std::to_string(polls) + " попыток чтения прошло. Задержка " + std::to_string(delayMs) +
         "мс";
}

std::string ReceivedLine(const std::string& buffer) { return "Принял:" + buffer; }

}  // namespace sign_exchange
