#include "protocol/write_sign.h"

#include <algorithm>

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

// One attempt: send again, discard what came before, poll, take the answer.
bool WaitWriteAckOnce(SignPort& port, const ExchangeContext& context) {
  port.SendText(context.replyBuffer);
  port.PurgeBuffers(true, true);
  context.log("--- Жду ответ после записи данных ---");
  std::string answer(14, ' ');

  int polls = 0;
  while (polls < kPolls) {
    ++polls;
    SleepReadDelay(context);
    context.log(QueuedLine(port.InputQueueCount()));
    if (port.InputQueueCount() >= kEnoughBytes) break;
  }
  context.log(PollSummaryLine(polls, context.readDelayMs()));

  // An answer that only the last poll found is left unread.
  if (polls < kPolls) {
    port.ReadBytes(answer, kBytesTaken);
  } else {
    context.log("Ошибка чтения!!! ");
  }
  context.log(ReceivedLine(answer));

  if (!IsAcknowledgement(answer)) return false;
  context.log("Принятые данные верные:" + sign_link::BytesAsText(answer));
  return true;
}

}  // namespace

std::string MakeCheckCode(const std::string& replyBuffer) {
  return sign_link::CheckCode(std::string_view(replyBuffer).substr(0, 9));
}

bool WaitWriteAck(SignPort& port, const ExchangeContext& context) {
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    if (WaitWriteAckOnce(port, context)) return true;
  }
  return false;
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
      std::string& buffer = context.replyBuffer;
      buffer = sign_link::WriteFrameBody(panel, record);
      buffer += MakeCheckCode(buffer);

      // The label counts the frames from 0; the bar stops at its end for the
      // last two so that it never steps back.
      context.log("Запишу " + std::to_string(frameIndex) + " панель:" + buffer);
      if (frameIndex > 0) context.progress(std::min(frameIndex + 1, kLastPosition));

      port.SendText(buffer);
      const std::string frame = buffer;
      outcomes.push_back({panel, frame, WaitWriteAck(port, context)});
      ++frameIndex;
    }
  }
  return outcomes;
}

}  // namespace sign_exchange
