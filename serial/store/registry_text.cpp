#include "serial/store/registry_text.h"

#include <charconv>
#include <cstdio>

#include "serial/port/ascii_case.h"
#include "serial/store/store_file.h"

namespace {

[[noreturn]] void Malformed(size_t lineNumber, const std::string& why) {
  throw SettingsStoreError("settings file line " + std::to_string(lineNumber) + ": " + why);
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

// Reads a quoted text at the start of `rest`, removes it from `rest`.
std::string TakeQuoted(std::string_view& rest, size_t lineNumber) {
  if (rest.empty() || rest[0] != '"') Malformed(lineNumber, "a quoted text is expected");
  std::string out;
  for (size_t i = 1; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == '"') {
      rest.remove_prefix(i + 1);
      return out;
    }
    if (c == '\\') {
      if (++i == rest.size() || (rest[i] != '\\' && rest[i] != '"')) {
        Malformed(lineNumber, "only \\\\ and \\\" may follow a backslash");
      }
    }
    out += rest[i];
  }
  Malformed(lineNumber, "the closing quote is missing");
}

uint32_t ParseDword(std::string_view digits, size_t lineNumber) {
  uint32_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value, 16);
  if (digits.size() != 8 || error != std::errc() || stop != end) {
    Malformed(lineNumber, "dword: needs eight hexadecimal digits");
  }
  return value;
}

RegistryValue ParseValueLine(std::string_view line, size_t lineNumber) {
  RegistryValue value;
  value.name = TakeQuoted(line, lineNumber);
  if (line.empty() || line[0] != '=') Malformed(lineNumber, "\"=\" is expected after the name");
  line.remove_prefix(1);
  if (line.starts_with("dword:")) {
    value.data = ParseDword(line.substr(6), lineNumber);
  } else {
    value.data = TakeQuoted(line, lineNumber);
    if (!line.empty()) Malformed(lineNumber, "text after the value");
  }
  return value;
}

}  // namespace

bool FitsOnOneLine(std::string_view text) {
  return text.find_first_of(std::string_view("\n\r\0", 3)) == std::string_view::npos;
}

std::vector<RegistrySection> ParseRegistryText(std::string_view text) {
  std::vector<RegistrySection> sections;
  size_t lineNumber = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.size() < 2 || line.back() != ']') Malformed(lineNumber, "a section needs \"]\"");
      const std::string_view path = line.substr(1, line.size() - 2);
      for (const RegistrySection& known : sections) {
        if (EqualIgnoringCase(known.path, path)) Malformed(lineNumber, "the key is given twice");
      }
      sections.push_back({std::string(path), {}});
      continue;
    }
    if (sections.empty()) Malformed(lineNumber, "a value before the first section");
    RegistryValue value = ParseValueLine(line, lineNumber);
    for (const RegistryValue& known : sections.back().values) {
      if (EqualIgnoringCase(known.name, value.name))
        Malformed(lineNumber, "the value is given twice");
    }
    sections.back().values.push_back(std::move(value));
  }
  return sections;
}

std::string FormatRegistryText(const std::vector<RegistrySection>& sections) {
  std::string out;
  for (const RegistrySection& section : sections) {
    if (!out.empty()) out += '\n';
    out += "[" + section.path + "]\n";
    for (const RegistryValue& value : section.values) {
      out += Quoted(value.name) + "=";
      if (const auto* dword = std::get_if<uint32_t>(&value.data)) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", *dword);
        out += std::string("dword:") + digits;
      } else {
        out += Quoted(std::get<std::string>(value.data));
      }
      out += '\n';
    }
  }
  return out;
}
