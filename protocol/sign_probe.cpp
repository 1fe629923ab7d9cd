#include "protocol/sign_probe.h"

namespace sign_exchange {

namespace {

const char kProbe[] = "R0E";
const char kFiller[] = "===========";
constexpr int kMaxPolls = 4;
constexpr int32_t kReplyWaiting = 12;
constexpr int32_t kReplyTaken = 10;
// Waiting for the bytes waits for the whole panel reply, so that none of it is
// left to arrive after the next exchange's purge; 12 bytes still make an
// answer, as for the window.
constexpr int32_t kReplyLength = 14;

// The window's polls; true when a reply was complete before the last one.
bool PollForReply(SignPort& port, const ExchangeContext& context, int searchDelay) {
  int polls = 0;
  while (polls < kMaxPolls) {
    ++polls;
    context.log(QueuedLine(port.InputQueueCount()));
    SleepReadDelay(context);
    if (port.InputQueueCount() >= kReplyWaiting) break;
  }
  // The summary quotes the search delay although the waits used the read delay.
  context.log(PollSummaryLine(polls, searchDelay));
  // A reply complete only after the last wait counts as no reply.
  return polls < kMaxPolls;
}

bool AnsweredLikeSign(const std::string& reply) {
  return reply.size() >= 2 && reply[0] == 'T' && reply[1] == '0';
}

}  // namespace

bool ProbeAnswersLikeSign(SignPort& port, const ExchangeContext& context, int searchDelay) {
  port.PurgeBuffers(true, true);
  port.SendText(kProbe);
  context.log(std::string("Отправлено:") + kProbe);
  context.replyBuffer = kFiller;

  bool answered = false;
  if (context.wait == AnswerWait::PacedPolls) {
    answered = PollForReply(port, context, searchDelay);
    if (answered) port.ReadBytes(context.replyBuffer, kReplyTaken);
  } else {
    // A late reply for another panel (a program before this one asked) is not
    // the answer to the probe.
    answered =
        TakeAnswer(
            port, context, {kReplyLength, kReplyWaiting, kReplyTaken}, context.replyBuffer,
            [](const std::string& reply) { return reply[0] == 'T' && reply[1] != kProbe[1]; })
            .taken;
  }
  if (!answered) context.log("Ошибка чтения!!! ");
  context.log(ReceivedLine(context.replyBuffer));
  return AnsweredLikeSign(context.replyBuffer);
}

}  // namespace sign_exchange
