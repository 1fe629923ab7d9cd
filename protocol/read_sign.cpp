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

// The window's polls for a reply, each after a read delay; the count queued
// afterwards: the reply is complete when it is at least its length.
int32_t PollForReply(SignPort& port, const ExchangeContext& context) {
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
  return port.InputQueueCount();
}

// What a panel's attempts gave: whether a reply's check code matched, and
// the most that came back to any of them.
struct PanelAttempts {
  bool matched = false;
  Heard heard;
};

// One attempt: request, wait, read, check code. Waiting for the bytes, a
// reply for another panel ("T" and another address character) is dropped and
// the wait goes on; the window's polls take whatever came, as the window does.
PanelAttempts ReadPanelOnce(SignPort& port, uint8_t address, const ExchangeContext& context) {
  const bool paced = context.wait == AnswerWait::PacedPolls;
  if (paced) SleepReadDelay(context);
  port.PurgeBuffers(true, true);
  context.log(std::string("--- Читаю панель") + sign_link::AddressChar(address) + " ---");
  port.SendText(sign_link::ReadRequest(address));
  std::string& buffer = context.replyBuffer;
  buffer = kFiller;

  bool complete = false;
  PanelAttempts attempt;
  if (paced) {
    const int32_t queued = PollForReply(port, context);
    complete = queued >= kReplyLength;
    attempt.heard = HeardOf(queued, kReplyLength);
    if (complete) port.ReadBytes(buffer, kReplyLength);
  } else {
    const char own = sign_link::AddressChar(address);
    const Arrival arrival =
        TakeAnswer(port, context, {kReplyLength, kReplyLength, kReplyLength}, buffer,
                   [own](const std::string& reply) { return reply[0] == 'T' && reply[1] != own; });
    complete = arrival.taken;
    attempt.heard = arrival.heard;
  }
  if (!complete) {
    context.log("Мало принял данных ");
    context.log("-----BigError Loop------ ");
  }
  context.log(ReceivedLine(buffer));

  context.log("Контрольная сумма принятая " + ReceivedCheckCode(buffer));
  context.log("Контрольная сумма расчитанная " +
              sign_link::CheckCode(std::string_view(buffer).substr(0, 12)));
  attempt.matched = sign_link::ReplyCheckCodeMatches(buffer);
  return attempt;
}

PanelAttempts ReadPanelAttempts(SignPort& port, uint8_t address, const ExchangeContext& context) {
  PanelAttempts panel;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    if (attempt > 1) LetLineFallQuiet(port, context);
    const PanelAttempts once = ReadPanelOnce(port, address, context);
    panel.heard |= once.heard;
    if (once.matched) {
      panel.matched = true;
      return panel;
    }
  }
  context.replyBuffer = kFiller;
  return panel;
}

}  // namespace

bool ReadPanel(SignPort& port, uint8_t address, const ExchangeContext& context) {
  return ReadPanelAttempts(port, address, context).matched;
}

PanelReading ReadStepPanel(SignPort& port, const ReadStep& step, const ExchangeContext& context) {
  context.progress(step.progress);
  PanelReading reading;
  reading.step = step;
  reading.heard = ReadPanelAttempts(port, step.address, context).heard;
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
  return reading;
}

std::vector<PanelReading> ReadSign(SignPort& port, const ExchangeContext& context,
                                   const std::function<void(const PanelReading&)>& onPanel) {
  std::vector<PanelReading> readings;
  for (const ReadStep& step : kReadSteps) {
    readings.push_back(ReadStepPanel(port, step, context));
    onPanel(readings.back());
  }
  context.progress(0);
  return readings;
}

}  // namespace sign_exchange
