#include "sim/sign_device.h"

#include <cctype>
#include <stdexcept>

#include "sim/brightness.h"

namespace sign_sim {

namespace {

constexpr size_t kReadRequestLength = 3;
constexpr size_t kWriteFrameLength = 11;
constexpr size_t kWriteBodyLength = 9;

bool IsPanelAddress(int address) {
  return (address >= 0 && address <= 4) || (address >= 8 && address <= 12);
}

int AddressOf(char addressChar) { return static_cast<unsigned char>(addressChar) - 0x30; }

// How many bytes the message at the front of `input` takes: 0 while more
// bytes are needed, -1 when the front byte starts no message.
int MessageLength(std::string_view input) {
  if (input.empty()) return 0;
  switch (input[0]) {
    case 'R':
      if (input.size() < kReadRequestLength) return 0;
      return input[2] == 'E' ? static_cast<int>(kReadRequestLength) : -1;
    case 'W':
      // The "E" that closes the body tells a frame from a stray "W" early.
      if (input.size() < kWriteBodyLength) return 0;
      if (input[kWriteBodyLength - 1] != 'E') return -1;
      return input.size() < kWriteFrameLength ? 0 : static_cast<int>(kWriteFrameLength);
    case 'L':
      if (input.size() < 2) return 0;
      if (input[1] == 'A') return 2;
      if (input[1] != 'M') return -1;
      if (input.size() < 3) return 0;
      return std::isdigit(static_cast<unsigned char>(input[2])) ? 3 : -1;
    default:
      return -1;
  }
}

// Another digit of the uppercase hexadecimal alphabet, for a check code that must not match.
char OtherHexDigit(char digit) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  const size_t at = kDigits.find(digit);
  return kDigits[(at == std::string_view::npos ? 0 : at + 1) % kDigits.size()];
}

void CountDown(int& counter) {
  if (counter > 0) --counter;
}

}  // namespace

SignDevice::SignDevice() : brightness_(kBrightnessAutomatic) {
  panels_.fill(sign_link::PanelRecord{"----", '0', '0'});
}

std::vector<Exchange> SignDevice::Receive(std::string_view bytes) {
  pending_.append(bytes);
  return TakeMessages();
}

std::vector<Exchange> SignDevice::DropStaleByte() {
  if (pending_.empty()) return {};
  std::string dropped(1, pending_[0]);
  pending_.erase(0, 1);
  return TakeMessages(std::move(dropped));
}

std::vector<Exchange> SignDevice::TakeMessages(std::string dropped) {
  std::vector<Exchange> out;
  auto flushDropped = [&] {
    if (dropped.empty()) return;
    out.push_back({dropped, "", "dropped: fits no message"});
    dropped.clear();
  };
  size_t at = 0;
  for (;;) {
    const int length = MessageLength(std::string_view(pending_).substr(at));
    if (length == 0) break;
    if (length < 0) {
      dropped += pending_[at++];
      continue;
    }
    flushDropped();
    out.push_back(Answer(pending_.substr(at, static_cast<size_t>(length))));
    at += static_cast<size_t>(length);
  }
  flushDropped();
  pending_.erase(0, at);
  return out;
}

Exchange SignDevice::Answer(const std::string& message) {
  Exchange exchange = message[0] == 'R'   ? AnswerRead(message)
                      : message[0] == 'W' ? AnswerWrite(message)
                                          : AnswerBrightness(message);
  if (exchange.answer.empty()) return exchange;
  if (faults_.silent) {
    exchange.answer.clear();
    exchange.note = "silent";
    return exchange;
  }
  exchange.answer = Shaped(std::move(exchange.answer));
  return exchange;
}

Exchange SignDevice::AnswerRead(const std::string& message) {
  const int address = AddressOf(message[1]);
  if (!IsPanelAddress(address)) return {message, "", "no such panel"};
  if (faults_.silent) return {message, "", "silent"};  // keeps the reply countdowns
  if (faults_.answerForAnotherPanel) {
    // A sign whose panels' addresses are set wrong: 4 answers as 8, 12 as 0.
    const int other = address == 4 ? 8 : address == 12 ? 0 : address + 1;
    return {message, PanelReply(sign_link::AddressChar(static_cast<uint8_t>(other)), panels_[static_cast<size_t>(other)]),
            "answered for another panel"};
  }
  return {message, PanelReply(message[1], panels_[static_cast<size_t>(address)]), ""};
}

Exchange SignDevice::AnswerWrite(const std::string& message) {
  const std::string body = message.substr(0, kWriteBodyLength);
  const std::string code = sign_link::CheckCode(body);
  if (message.compare(kWriteBodyLength, 2, code) != 0) return {message, "", "bad check code"};
  const int address = AddressOf(message[1]);
  if (!IsPanelAddress(address)) return {message, "", "no such panel"};
  if (faults_.refusedWrites > 0) {
    --faults_.refusedWrites;
    return {message, "", "write refused"};
  }
  panels_[static_cast<size_t>(address)] =
      sign_link::PanelRecord{message.substr(2, 4), message[6], message[7]};
  return {message, "WOK" + code, ""};
}

Exchange SignDevice::AnswerBrightness(const std::string& message) {
  std::string echo = message;
  if (message[1] == 'A') {
    brightness_ = kBrightnessAutomatic;
    if (faults_.wrongBrightnessEcho) echo = "LM";
  } else {
    brightness_ = message[2] - '0';
    if (faults_.wrongBrightnessEcho) echo[2] = static_cast<char>('0' + (brightness_ + 1) % 10);
  }
  return {message, echo, ""};
}

std::string SignDevice::PanelReply(char addressChar, const sign_link::PanelRecord& record) {
  std::string reply = {faults_.replyWithoutT ? 'X' : 'T', addressChar};
  reply += record.price;
  reply += record.grade;
  reply += record.inscription;
  reply += "00";
  reply += faults_.replyWithoutOk ? "NO" : "OK";
  std::string code = sign_link::CheckCode(reply);
  if (faults_.wrongFirstCheckDigit > 0) code[0] = OtherHexDigit(code[0]);
  if (faults_.wrongSecondCheckDigit > 0) code[1] = OtherHexDigit(code[1]);
  CountDown(faults_.wrongFirstCheckDigit);
  CountDown(faults_.wrongSecondCheckDigit);
  if (faults_.lowercaseCheckCode) {
    for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  reply += code;
  if (faults_.replyLength > 0 && static_cast<size_t>(faults_.replyLength) < reply.size()) {
    reply.resize(static_cast<size_t>(faults_.replyLength));
  }
  return reply;
}

std::string SignDevice::Shaped(std::string answer) const {
  answer += faults_.extraAfterAnswer;
  if (faults_.nulsBetweenBytes <= 0 || answer.size() < 2) return answer;
  std::string spread;
  const std::string nuls(static_cast<size_t>(faults_.nulsBetweenBytes), '\0');
  for (size_t i = 0; i < answer.size(); ++i) {
    if (i > 0) spread += nuls;
    spread += answer[i];
  }
  return spread;
}

const sign_link::PanelRecord& SignDevice::Panel(uint8_t address) const {
  if (!IsPanelAddress(address))
    throw std::out_of_range("no panel at address " + std::to_string(address));
  return panels_[address];
}

void SignDevice::SetPanel(uint8_t address, const sign_link::PanelRecord& record) {
  if (!IsPanelAddress(address))
    throw std::out_of_range("no panel at address " + std::to_string(address));
  if (record.price.size() != 4) throw std::invalid_argument("a price is four characters");
  panels_[address] = record;
}

void SignDevice::SetBrightness(int brightness) {
  if (!IsBrightness(brightness)) throw std::out_of_range("brightness is automatic or 0..9");
  brightness_ = brightness;
}

}  // namespace sign_sim
