#include "serial/port/ascii_case.h"

#include <algorithm>

namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool LessChar(char a, char b) {
  return static_cast<unsigned char>(UpperAscii(a)) < static_cast<unsigned char>(UpperAscii(b));
}

}  // namespace

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return UpperAscii(x) == UpperAscii(y); });
}

bool LessIgnoringCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), LessChar);
}
