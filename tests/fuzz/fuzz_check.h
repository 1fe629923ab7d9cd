#pragma once
// What a fuzzer does when a property fails: say what was expected and what
// came instead, then abort so that libFuzzer keeps the input as a crash.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tarvo::fuzz {

// Printable form of bytes for the failure message: other bytes as \xNN.
inline void PrintBytes(std::string_view bytes) {
  std::fputc('"', stderr);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
      std::fputc(byte, stderr);
    } else {
      std::fprintf(stderr, "\\x%02X", byte);
    }
  }
  std::fputc('"', stderr);
}

[[noreturn]] inline void Fail(const char* property, std::string_view expected,
                              std::string_view got) {
  std::fprintf(stderr, "\nproperty failed: %s\n  expected: ", property);
  PrintBytes(expected);
  std::fprintf(stderr, "\n  got:      ");
  PrintBytes(got);
  std::fprintf(stderr, "\n");
  std::abort();
}

inline void Check(bool holds, const char* property, std::string_view expected = {},
                  std::string_view got = {}) {
  if (!holds) Fail(property, expected, got);
}

// The check code computed here, not by the codec, so a codec fault shows.
inline std::string OwnCheckCode(std::string_view bytes) {
  unsigned x = 0;
  for (const char c : bytes) x ^= static_cast<unsigned char>(c);
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", x);
  return digits;
}

}  // namespace tarvo::fuzz
