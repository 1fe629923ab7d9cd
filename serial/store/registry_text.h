#pragma once
// The text of a settings store file in the registry-export syntax: a section
// line "[key path]" per key, then one line per value, "name"="text" or
// "name"=dword:XXXXXXXX. Inside quotes "\" and '"' are written "\\" and "\"".

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct RegistryValue {
  std::string name;
  std::variant<std::string, uint32_t> data;  // a text or a dword
  bool operator==(const RegistryValue&) const = default;
};

struct RegistrySection {
  std::string path;  // parts joined by "\", without the root
  std::vector<RegistryValue> values;
  bool operator==(const RegistrySection&) const = default;
};

// Raises SettingsStoreError on any line it does not understand, on a value
// before the first section, and on a key or value name given twice (ignoring
// letter case), so a file it cannot represent is never rewritten.
std::vector<RegistrySection> ParseRegistryText(std::string_view text);

// Sections separated by an empty line, the file ending with a line break.
std::string FormatRegistryText(const std::vector<RegistrySection>& sections);

// A text that fits on one line of the file: no line break and no NUL byte.
bool FitsOnOneLine(std::string_view text);
