#include "serial/store/value_texts.h"

#include <charconv>

namespace {

constexpr const char* kBaudRateTexts[] = {"Custom", "110",    "300",    "600",   "1200",  "2400",
                                          "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                          "57600",  "115200", "128000", "256000"};
constexpr const char* kDataBitsTexts[] = {"5", "6", "7", "8"};
constexpr const char* kStopBitsTexts[] = {"1", "1.5", "2"};
constexpr const char* kParityTexts[] = {"None", "Odd", "Even", "Mark", "Space"};
constexpr const char* kFlowControlTexts[] = {"Hardware", "Software", "None", "Custom"};
constexpr const char* kRTSTexts[] = {"Disable", "Enable", "Handshake", "Toggle"};
constexpr const char* kDTRTexts[] = {"Disable", "Enable", "Handshake"};

}  // namespace

template <>
std::span<const char* const> ValueTexts<TBaudRate>() {
  return kBaudRateTexts;
}
template <>
std::span<const char* const> ValueTexts<TDataBits>() {
  return kDataBitsTexts;
}
template <>
std::span<const char* const> ValueTexts<TStopBits>() {
  return kStopBitsTexts;
}
template <>
std::span<const char* const> ValueTexts<TParityBits>() {
  return kParityTexts;
}
template <>
std::span<const char* const> ValueTexts<TFlowControl>() {
  return kFlowControlTexts;
}
template <>
std::span<const char* const> ValueTexts<TRTSFlowControl>() {
  return kRTSTexts;
}
template <>
std::span<const char* const> ValueTexts<TDTRFlowControl>() {
  return kDTRTexts;
}

template <>
TBaudRate ValueFallback<TBaudRate>() {
  return br9600;
}
template <>
TDataBits ValueFallback<TDataBits>() {
  return dbEight;
}
template <>
TStopBits ValueFallback<TStopBits>() {
  return sbOneStopBit;
}
template <>
TParityBits ValueFallback<TParityBits>() {
  return prNone;
}
template <>
TFlowControl ValueFallback<TFlowControl>() {
  return fcCustom;
}
template <>
TRTSFlowControl ValueFallback<TRTSFlowControl>() {
  return rtsDisable;
}
template <>
TDTRFlowControl ValueFallback<TDTRFlowControl>() {
  return dtrDisable;
}

std::string YesNoText(bool value) { return value ? "Yes" : "No"; }

std::optional<bool> YesNoFromText(std::string_view text) {
  if (EqualIgnoringCase(text, "Yes")) return true;
  if (EqualIgnoringCase(text, "No")) return false;
  return std::nullopt;
}

std::string ByteText(uint8_t value) {
  if (value >= 0x21 && value <= 0x7F) return std::string(1, static_cast<char>(value));
  return "#" + std::to_string(value);
}

std::optional<uint8_t> ByteFromText(std::string_view text) {
  if (text.size() == 1) return static_cast<uint8_t>(text[0]);
  if (text.size() < 2 || text[0] != '#') return std::nullopt;
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + 1, end, value);
  if (error != std::errc() || stop != end || value > 0xFF) return std::nullopt;
  return static_cast<uint8_t>(value);
}
