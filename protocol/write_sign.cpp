#include "protocol/write_sign.h"

#include <algorithm>
#include <chrono>

namespace sign_exchange {

namespace {

constexpr int kAttempts = 3;
constexpr int kPolls = 8;
constexpr int32_t kEnoughBytes = 3;
constexpr int32_t kBytesTaken = 5;
constexpr int kFirstRow = 5;
constexpr int kHalfOffset = 8;  // the second-half panel of a row
constexpr int kLastPosition = 8;

bool IsAcknowledgement(const std::string& answer) { return answer.rfind("WOK", 0) == 0; }

// The window's polls for the acknowledgement; true when one came before the
// last poll (an answer that only the last poll found is left unread).
bool PollForAcknowledgement(SignPort& port, const ExchangeContext& context) {
  int polls = 0;
  while (polls < kPolls) {
    ++polls;
    SleepReadDelay(context);
    context.log(QueuedLine(port.InputQueueCount()));
    if (port.InputQueueCount() >= kEnoughBytes) break;
  }
  context.log(PollSummaryLine(polls, context.readDelayMs()));
  if (polls < kPolls) return true;
  context.log("Ошибка чтения!!! ");
  return false;
}

// What one attempt gave (or all of a frame's), and when its frame went out.
struct AckAttempt {
  bool acknowledged = false;
  Heard heard;
  std::chrono::steady_clock::time_point sent;
};

// One attempt. The window sends again and then discards what came before;
// waiting for the bytes discards first and sends once, so the answer it
// waits for is the one to this frame. The whole answer is waited for, so
// that none of it is left to arrive after the next frame's purge.
AckAttempt WaitWriteAckOnce(SignPort& port, const ExchangeContext& context) {
  const bool paced = context.wait == AnswerWait::PacedPolls;
  AckAttempt attempt;
  if (paced) port.SendText(context.replyBuffer);
  port.PurgeBuffers(true, true);
  if (!paced) port.SendText(context.replyBuffer);
  attempt.sent = std::chrono::steady_clock::now();
  context.log("--- Жду ответ после записи данных ---");
  std::string answer(14, ' ');

  if (paced) {
    if (PollForAcknowledgement(port, context)) port.ReadBytes(answer, kBytesTaken);
  } else {
    attempt.heard =
        TakeAnswer(port, context, {kBytesTaken, kEnoughBytes, kBytesTaken}, answer).heard;
  }
  context.log(ReceivedLine(answer));

  if (!IsAcknowledgement(answer)) return attempt;
  context.log("Принятые данные верные:" + sign_link::BytesAsText(answer));
  attempt.acknowledged = true;
  return attempt;
}

// Up to three attempts at the frame in the reply buffer. Waiting for the
// bytes, an acknowledgement carries no address: when a send went without an
// answer known to be its own, a late one could be taken for the next frame's,
// so it is let pass first.
AckAttempt AcknowledgedFrame(SignPort& port, const ExchangeContext& context) {
  AckAttempt outcome;
  AckAttempt attempt;
  int number = 0;
  while (number < kAttempts && !outcome.acknowledged) {
    if (++number > 1) LetLineFallQuiet(port, context);
    attempt = WaitWriteAckOnce(port, context);
    outcome.acknowledged = attempt.acknowledged;
    outcome.heard |= attempt.heard;
  }
  if (number > 1 || !outcome.acknowledged) LetLateAnswersPass(port, context, attempt.sent);
  return outcome;
}

}  // namespace

std::string MakeCheckCode(const std::string& replyBuffer) {
  return sign_link::CheckCode(std::string_view(replyBuffer).substr(0, 9));
}

bool WaitWriteAck(SignPort& port, const ExchangeContext& context) {
  return AcknowledgedFrame(port, context).acknowledged;
}

FrameOutcome WritePanel(SignPort& port, uint8_t address, const sign_link::PanelRecord& record,
                        const ExchangeContext& context) {
  std::string& buffer = context.replyBuffer;
  buffer = sign_link::WriteFrame(address, record);
  // The window sends each frame once here and once more in every attempt.
  if (context.wait == AnswerWait::PacedPolls) port.SendText(buffer);
  const AckAttempt acknowledgement = AcknowledgedFrame(port, context);
  return {address, buffer, acknowledgement.acknowledged, acknowledgement.heard};
}

std::vector<FrameOutcome> WriteSign(SignPort& port, const EntryRowSource& entryRow,
                                    const ExchangeContext& context) {
  std::vector<FrameOutcome> outcomes;
  context.progress(1);
  port.PurgeBuffers(true, true);

  int frameIndex = 0;
  for (int row = kFirstRow; row >= 1; --row) {
    const sign_link::PanelRecord record = sign_link::RecordFromEntry(entryRow(row));
    const int firstHalf = kFirstRow - row;
    for (int address : {firstHalf, firstHalf + kHalfOffset}) {
      const auto panel = static_cast<uint8_t>(address);
      // A row whose field holds what the link cannot carry (bytes a read put
      // there) is not sent: only well-formed frames go on the line.
      const bool sendable = !sign_link::RecordFault(panel, record);
      // The label counts the frames from 0; the bar stops at its end for the
      // last two so that it never steps back.
      if (sendable)
        context.log("Запишу " + std::to_string(frameIndex) +
                    " панель:" + sign_link::WriteFrame(panel, record));
      if (frameIndex > 0) context.progress(std::min(frameIndex + 1, kLastPosition));
      ++frameIndex;
      if (!sendable) {
        outcomes.push_back({panel, "", false, {}});
        continue;
      }
      outcomes.push_back(WritePanel(port, panel, record, context));
    }
  }
  return outcomes;
}

}  // namespace sign_exchange
