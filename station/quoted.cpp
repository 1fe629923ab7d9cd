#include "station/quoted.h"

#include <cstdio>

namespace station {

std::string OneLine(std::string_view text) {
  std::string line;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\t') {
      line += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
  return line;
}

std::string Quoted(std::string_view text) {
  std::string inner;
  for (const char c : text) {
    if (c == '"' || c == '\\') inner += '\\';
    inner += c;
  }
  return "\"" + OneLine(inner) + "\"";
}

}  // namespace station
