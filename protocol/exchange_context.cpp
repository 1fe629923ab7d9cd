#include "protocol/exchange_context.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

#include "protocol/sign_link.h"

namespace sign_exchange {

namespace {

// Ten byte times at 19200 baud: longer than the gaps within one answer.
constexpr int kQuietMs = 5;

}  // namespace

Heard HeardOf(int32_t queued, int32_t enough) {
  return {queued > 0, queued > 0 && queued < enough};
}

void SleepReadDelay(const ExchangeContext& context) {
  std::this_thread::sleep_for(std::chrono::milliseconds(context.readDelayMs()));
}

Arrival TakeAnswer(SignPort& port, const ExchangeContext& context, const AnswerShape& shape,
                   std::string& answer, const std::function<bool(const std::string&)>& isAnother) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(context.answerTimeoutMs);
  Arrival arrival;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const int32_t queued =
        port.WaitForInput(shape.waitFor, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    arrival.heard |= HeardOf(queued, shape.enough);
    if (queued < shape.enough) {
      context.log(QueuedLine(queued));
      return arrival;
    }
    // The whole answer leaves the line, so that a dropped one leaves nothing behind.
    std::string taken;
    port.ReadBytes(taken, shape.waitFor);
    if (!isAnother || !isAnother(taken)) {
      context.log(QueuedLine(queued));
      answer = taken.substr(0, static_cast<size_t>(shape.taken));
      arrival.taken = true;
      return arrival;
    }
    // Not this exchange's: dropped, and the wait goes on.
    context.log(ReceivedLine(taken));
    if (Clock::now() >= deadline) {
      context.log(QueuedLine(port.InputQueueCount()));
      return arrival;
    }
  }
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

void LetLateAnswersPass(SignPort& port, const ExchangeContext& context,
                        std::chrono::steady_clock::time_point lastSend) {
  if (context.wait != AnswerWait::ForBytes) return;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point until = lastSend + 2 * std::chrono::milliseconds(context.answerTimeoutMs);
  for (auto left = until - Clock::now(); left > Clock::duration::zero();
       left = until - Clock::now()) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    // No count is ever reached: the wait lasts its time unless the queue fills.
    port.WaitForInput(std::numeric_limits<int32_t>::max(), static_cast<int>(ms));
    port.PurgeBuffers(true, false);
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
