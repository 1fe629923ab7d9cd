#include "protocol/read_sign.h"

namespace sign_exchange {

namespace {

constexpr int kAttempts = 7;
constexpr int kPolls = 3;
constexpr int32_t kReplyLength = 14;
const std::string kFiller(16, ' ');

// Bytes 12 and 13 of the buffer, as many of them as it has.
std::string ReceivedCheckCode(const std::string& buffer) {
  return buffer.size() > 12 ? buffer.substr(12, 2) : std::string();
}

// The window's polls for a reply, each after a read delay; true when the
// reply is complete afterwards.
bool PollForReply(SignPort& port, const ExchangeContext& context) {
  int polls = 0;
  while (polls < kPolls) {
    ++polls;
    SleepReadDelay(context);
    const int32_t queued = port.InputQueueCount();
    context.log(QueuedLine(queued));
    if (queued >= kReplyLength) break;
  }
  context.log(PollSummaryLine(polls, context.readDelayMs()));
  // A reply that completes after the last poll is still taken here.
  return port.InputQueueCount() >= kReplyLength;
}

// One attempt: request, wait, read, check code; true when it matched.
bool ReadPanelOnce(SignPort& port, uint8_t address, const ExchangeContext& context) {
  const bool paced = context.wait == AnswerWait::PacedPolls;
  if (paced) SleepReadDelay(context);
  port.PurgeBuffers(true, true);
  context.log(std::string("--- Читаю панель") + sign_link::AddressChar(address) + " ---");
  port.SendText(sign_link::ReadRequest(address));
  std::string& buffer = context.replyBuffer;
  buffer = kFiller;

  const bool complete = paced ? PollForReply(port, context)
                              : WaitForAnswer(port, context, kReplyLength) >= kReplyLength;
  if (complete) {
    port.ReadBytes(buffer, kReplyLength);
  } else {
    context.log("Мало принял данных ");
    context.log("-----BigError Loop------ ");
  }
  context.log(ReceivedLine(buffer));

  context.log("Контрольная сумма принятая " + ReceivedCheckCode(buffer));
  context.log("Контрольная сумма расчитанная " +
              sign_link::CheckCode(std::string_view(buffer).substr(0, 12)));
  return sign_link::ReplyCheckCodeMatches(buffer);
}

}  // namespace

bool ReadPanel(SignPort& port, uint8_t address, const ExchangeContext& context) {
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    if (attempt > 1) LetLineFallQuiet(port, context);
    if (ReadPanelOnce(port, address, context)) return true;
  }
  context.replyBuffer = kFiller;
  return false;
}

std::vector<PanelReading> ReadSign(SignPort& port, const ExchangeContext& context,
                                   const std::function<void(const PanelReading&)>& onPanel) {
  std::vector<PanelReading> readings;
  for (const ReadStep& step : kReadSteps) {
    context.progress(step.progress);
    ReadPanel(port, step.address, context);
    PanelReading reading;
    reading.step = step;
    reading.reply = context.replyBuffer;
    // The check code has matched or the buffer holds blanks; only the frame
    // markers are left to test, and a failure here is not retried.
    reading.good = sign_link::ReplyIsPanel(reading.reply);
    if (reading.good) {
      reading.priceText = sign_link::ReplyPriceText(reading.reply);
      reading.view = sign_link::ViewFromRecord(sign_link::DecodeReply(reading.reply));
    } else {
      context.log("Принятые данные ошибочные:" + sign_link::BytesAsText(reading.reply));
    }
    onPanel(reading);
    readings.push_back(std::move(reading));
  }
  context.progress(0);
  return readings;
}

}  // namespace sign_exchange
