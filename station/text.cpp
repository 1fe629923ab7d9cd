#include "station/text.h"

#include <libintl.h>

namespace station {

std::string Tr(const char* english) { return dgettext(kTextDomain, english); }

std::string Format(const char* english, std::initializer_list<std::string> values) {
  const std::string pattern = Tr(english);
  std::string text;
  auto value = values.begin();
  for (size_t at = 0; at < pattern.size(); ++at) {
    if (pattern.compare(at, 2, "%s") == 0 && value != values.end()) {
      text += *value++;
      ++at;
    } else {
      text += pattern[at];
    }
  }
  return text;
}

std::string PadRight(const std::string& text, size_t columns) {
  size_t characters = 0;
  for (const char byte : text) characters += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  return characters >= columns ? text : text + std::string(columns - characters, ' ');
}

}  // namespace station
