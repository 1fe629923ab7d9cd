// Any text through the value-text conversions: every enumeration text gives a
// valid value (the entry it names, else the fallback), every value's text
// converts back to it, and byte and Yes/No texts are read exactly as written.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/store/value_texts.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using tarvo::fuzz::Check;

// An oracle of its own, so a fault shared with the library's comparison shows.
bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

template <typename E>
void CheckEnumeration(std::string_view text) {
  const auto texts = ValueTexts<E>();
  const E value = ValueFromText<E>(text);
  const auto index = static_cast<size_t>(value);
  Check(index < texts.size(), "a text converts to a value of the enumeration");

  size_t named = texts.size();
  for (size_t i = 0; i < texts.size() && named == texts.size(); ++i) {
    if (SameIgnoringAsciiCase(text, texts[i])) named = i;
  }
  if (named < texts.size()) {
    Check(index == named, "a text naming an entry converts to that entry", texts[named],
          ValueText(value));
  } else {
    Check(value == ValueFallback<E>(), "a text naming no entry converts to the fallback",
          ValueText(ValueFallback<E>()), ValueText(value));
  }
  const std::string own = ValueText(value);
  Check(ValueFromText<E>(own) == value, "a value's own text converts back to it", own,
        ValueText(ValueFromText<E>(own)));
}

// A single character, or "#" and decimal digits of a value up to 255.
bool IsByteText(std::string_view text, unsigned& value) {
  if (text.size() == 1) {
    value = static_cast<unsigned char>(text[0]);
    return true;
  }
  if (text.size() < 2 || text[0] != '#') return false;
  value = 0;
  for (const char c : text.substr(1)) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 255) return false;
  }
  return true;
}

void CheckByteText(std::string_view text) {
  unsigned expected = 0;
  const bool valid = IsByteText(text, expected);
  const std::optional<uint8_t> byte = ByteFromText(text);
  Check(byte.has_value() == valid,
        valid ? "a byte text is read as a byte" : "a text that is no byte text is refused",
        std::string(text), byte ? ByteText(*byte) : "nothing");
  if (byte)
    Check(*byte == expected, "a byte text is read as its byte",
          ByteText(static_cast<uint8_t>(expected)), ByteText(*byte));
}

void CheckYesNo(std::string_view text) {
  const std::optional<bool> value = YesNoFromText(text);
  const bool yes = SameIgnoringAsciiCase(text, "Yes");
  const bool no = SameIgnoringAsciiCase(text, "No");
  Check(value.has_value() == (yes || no), "only Yes and No are Yes/No texts", std::string(text),
        value ? YesNoText(*value) : "nothing");
  if (value)
    Check(*value == yes, "Yes is true and No is false", std::string(text), YesNoText(*value));
}

}  // namespace

// Every byte's text is read back as that byte; checked once, before fuzzing.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (unsigned b = 0; b <= 0xFF; ++b) {
    const auto byte = static_cast<uint8_t>(b);
    const std::string text = ByteText(byte);
    const std::optional<uint8_t> back = ByteFromText(text);
    Check(back == byte, "a byte's text is read back as that byte", text,
          back ? ByteText(*back) : "nothing");
  }
  for (const bool v : {false, true}) {
    Check(YesNoFromText(YesNoText(v)) == v, "Yes/No texts read back", YesNoText(v));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckEnumeration<TBaudRate>(text);
  CheckEnumeration<TDataBits>(text);
  CheckEnumeration<TStopBits>(text);
  CheckEnumeration<TParityBits>(text);
  CheckEnumeration<TFlowControl>(text);
  CheckEnumeration<TRTSFlowControl>(text);
  CheckEnumeration<TDTRFlowControl>(text);
  CheckByteText(text);
  CheckYesNo(text);
  return 0;
}
