#include "app/sign_search.h"

#include <stdexcept>

namespace {

const char kProbe[] = "R0E";
const char kFiller[] = "===========";
constexpr int kMaxPolls = 4;
constexpr int32_t kReplyWaiting = 12;
constexpr int32_t kReplyTaken = 10;

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

// Sends the probe and takes what came back into the reply buffer.
void Probe(TComPort& port, const sign_exchange::ExchangeContext& context, int searchDelay) {
  port.SetBaudRate(br19200);
  port.PurgeBuffers(true, true);
  port.SendText(kProbe);
  context.log(std::string("Отправлено:") + kProbe);
  context.replyBuffer = kFiller;

  int polls = 0;
  while (polls < kMaxPolls) {
    ++polls;
    context.log(sign_exchange::QueuedLine(port.InputQueueCount()));
    sign_exchange::SleepReadDelay(context);
    if (port.InputQueueCount() >= kReplyWaiting) break;
  }
  // The summary quotes the search delay although the waits used the read delay.
  context.log(sign_exchange::PollSummaryLine(polls, searchDelay));
  // A reply complete only after the last wait counts as no reply.
  if (polls < kMaxPolls) {
    port.ReadBytes(context.replyBuffer, kReplyTaken);
  } else {
    context.log("Ошибка чтения!!! ");
  }
  context.log(sign_exchange::ReceivedLine(context.replyBuffer));
}

bool AnsweredLikeSign(const std::string& reply) {
  return reply.size() >= 2 && reply[0] == 'T' && reply[1] == '0';
}

}  // namespace

std::string SearchSign(TComPort& port, const sign_exchange::ExchangeContext& context,
                       int searchDelay) {
  std::string found;
  context.log("--- Поиск табло --- ");
  for (int number = 1; number <= kLastSearchedPort; ++number) {
    const std::string name = "COM" + std::to_string(number);
    if (!OpenCandidate(port, name)) continue;
    Probe(port, context, searchDelay);
    if (AnsweredLikeSign(context.replyBuffer)) found = name;
  }
  return found;
}
