#pragma once
// The texts under which the port's settings are stored and listed: one table
// per enumeration (texts in value order, and the value that a text matching
// nothing falls back to), Yes/No texts and byte texts.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "serial/CPort.h"
#include "serial/port/ascii_case.h"

// Texts of an enumeration, in value order.
template <typename E>
std::span<const char* const> ValueTexts();

// The value a text converts to when it matches no entry (an empty text included).
template <typename E>
E ValueFallback();

template <>
std::span<const char* const> ValueTexts<TBaudRate>();
template <>
std::span<const char* const> ValueTexts<TDataBits>();
template <>
std::span<const char* const> ValueTexts<TStopBits>();
template <>
std::span<const char* const> ValueTexts<TParityBits>();
template <>
std::span<const char* const> ValueTexts<TFlowControl>();
template <>
std::span<const char* const> ValueTexts<TRTSFlowControl>();
template <>
std::span<const char* const> ValueTexts<TDTRFlowControl>();
template <>
TBaudRate ValueFallback<TBaudRate>();
template <>
TDataBits ValueFallback<TDataBits>();
template <>
TStopBits ValueFallback<TStopBits>();
template <>
TParityBits ValueFallback<TParityBits>();
template <>
TFlowControl ValueFallback<TFlowControl>();
template <>
TRTSFlowControl ValueFallback<TRTSFlowControl>();
template <>
TDTRFlowControl ValueFallback<TDTRFlowControl>();

template <typename E>
std::string ValueText(E value) {
  const auto texts = ValueTexts<E>();
  const auto index = static_cast<size_t>(value);
  return index < texts.size() ? texts[index] : "";
}

// The first entry equal to the text ignoring letter case, else the fallback,
// so a text read from a file always becomes a valid value.
template <typename E>
E ValueFromText(std::string_view text) {
  const auto texts = ValueTexts<E>();
  for (size_t i = 0; i < texts.size(); ++i) {
    if (EqualIgnoringCase(text, texts[i])) return static_cast<E>(i);
  }
  return ValueFallback<E>();
}

// "Yes" or "No".
std::string YesNoText(bool value);
// "Yes" or "No" ignoring letter case; any other text is nothing.
std::optional<bool> YesNoFromText(std::string_view text);

// A byte 0x21..0x7F as that one character, any other as "#" and its decimal value.
std::string ByteText(uint8_t value);
// One character as itself, or "#" followed by 0..255; any other text is nothing.
std::optional<uint8_t> ByteFromText(std::string_view text);
