#include "protocol/exchange_context.h"

#include <chrono>
#include <thread>

#include "protocol/sign_link.h"

namespace sign_exchange {

namespace {

// Ten byte times at 19200 baud: longer than the gaps within one answer.
constexpr int kQuietMs = 5;

}  // namespace

void SleepReadDelay(const ExchangeContext& context) {
  std::this_thread::sleep_for(std::chrono::milliseconds(context.readDelayMs()));
}

int32_t WaitForAnswer(SignPort& port, const ExchangeContext& context, int32_t length) {
  const int32_t queued = port.WaitForInput(length, context.answerTimeoutMs);
  context.log(QueuedLine(queued));
  return queued;
}

void LetLineFallQuiet(SignPort& port, const ExchangeContext& context) {
  if (context.wait != AnswerWait::ForBytes) return;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(context.answerTimeoutMs);
  int32_t queued = port.InputQueueCount();
  while (std::chrono::steady_clock::now() < deadline) {
    const int32_t now = port.WaitForInput(queued + 1, kQuietMs);
    if (now <= queued) return;
    queued = now;
  }
}

std::string QueuedLine(int32_t count) { return "Принято символов:" + std::to_string(count); }

std::string PollSummaryLine(int polls, int delayMs) {
  return std::to_string(polls) + " попыток чтения прошло. Задержка " + std::to_string(delayMs) +
         "мс";
}

std::string ReceivedLine(const std::string& buffer) {
  return "Принял:" + sign_link::BytesAsText(buffer);
}

}  // namespace sign_exchange
