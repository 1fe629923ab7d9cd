#include "protocol/sign_link.h"

#include <algorithm>
#include <stdexcept>

namespace sign_link {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kReplyLength = 14;

}  // namespace

char AddressChar(uint8_t address) { return static_cast<char>(0x30 + address); }

std::string ReadRequest(uint8_t address) { return {'R', AddressChar(address), 'E'}; }

std::string CheckCode(std::string_view bytes) {
  uint8_t x = 0;
  for (char c : bytes) x ^= static_cast<uint8_t>(c);
  return {kHexDigits[x >> 4], kHexDigits[x & 0x0F]};
}

std::optional<std::string> RecordFault(uint8_t address, const PanelRecord& record) {
  const std::string& price = record.price;
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (address > 12 || (address >= 5 && address <= 7))
    return "address " + std::to_string(address) + " has no panel";
  if (price.size() != 4 || (price != "----" && !std::all_of(price.begin(), price.end(), isDigit)))
    return "price \"" + price + "\" is not four digits or ----";
  if (record.grade < '0' || record.grade > '5') return "grade code is not 0..5";
  if (record.inscription < '0' || record.inscription > '3') return "inscription code is not 0..3";
  return std::nullopt;
}

std::string WriteFrameBody(uint8_t address, const PanelRecord& record) {
  if (const std::optional<std::string> fault = RecordFault(address, record))
    throw std::invalid_argument("no write frame: " + *fault);
  std::string body = {'W', AddressChar(address)};
  body += record.price;
  body += record.grade;
  body += record.inscription;
  body += 'E';
  return body;
}

std::string WriteFrame(uint8_t address, const PanelRecord& record) {
  const std::string body = WriteFrameBody(address, record);
  return body + CheckCode(body);
}

bool ReplyCheckCodeMatches(std::string_view reply) {
  if (reply.size() < kReplyLength) return false;
  const std::string code = CheckCode(reply.substr(0, 12));
  return reply[12] == code[0] && reply[13] == code[1];
}

bool ReplyIsPanel(std::string_view reply) {
  return reply.size() >= 12 && reply[0] == 'T' && reply[10] == 'O' && reply[11] == 'K';
}

PanelRecord DecodeReply(std::string_view reply) {
  PanelRecord record;
  if (reply.size() < 8) return record;
  record.price = std::string(reply.substr(2, 4));
  record.grade = reply[6];
  record.inscription = reply[7];
  return record;
}

std::string ReplyPriceText(std::string_view reply) {
  if (reply.size() < 6) return {};
  return PriceText(reply.substr(2, 4));
}

std::string PriceText(std::string_view priceCharacters) {
  if (priceCharacters.size() < 4) return {};
  return {priceCharacters[0], priceCharacters[1], '.', priceCharacters[2], priceCharacters[3]};
}

std::string BytesAsText(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

PanelRecord RecordFromEntry(const EntryRow& row) {
  PanelRecord record;
  if (row.notUsed) {
    record.price = "----";
  } else {
    const std::string& text = row.priceText;
    record.price.clear();
    for (size_t i : {0u, 1u, 3u, 4u}) {
      const char c = i < text.size() ? text[i] : ' ';
      record.price += c == ' ' ? '0' : c;
    }
  }
  record.grade = row.gradeIndex < 0 ? '0' : static_cast<char>(0x31 + row.gradeIndex);
  record.inscription = row.inscription2 ? '2' : row.inscription1 ? '1' : '0';
  return record;
}

PanelView ViewFromRecord(const PanelRecord& record) {
  const auto inscription = static_cast<uint8_t>(record.inscription);
  return {static_cast<unsigned char>(record.grade) - 0x31, (inscription & 1) != 0,
          (inscription & 2) != 0};
}

}  // namespace sign_link
