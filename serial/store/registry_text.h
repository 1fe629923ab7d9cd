#pragma once
// The text of a settings store file in the registry-export syntax: a section
// line "[key path]" per key, then one line per value, "name"="text",
// "name"=dword:XXXXXXXX or "name"=hex:01,02 / hex(N):01,02 (a byte list that a
// trailing "\" continues on the next line); "@" names the key's default value.
// Inside quotes "\" and '"' are written "\\" and "\"". Files exported by a
// registry editor are read too: a byte-order mark, a "REGEDIT4" or "Windows
// Registry Editor Version 5.00" first line, ";" comment lines, blank lines and
// blanks around "=". Everything read is written back byte for byte unless it
// changed, so a store into someone else's file touches only its own values.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// A value kept as its bytes: hex: (binary) or hex(N): (the registry's kind N).
struct RegistryBytes {
  std::optional<uint32_t> kind;  // nothing for hex:
  std::vector<uint8_t> bytes;
  bool operator==(const RegistryBytes&) const = default;
};

using RegistryData = std::variant<std::string, uint32_t, RegistryBytes>;  // text, dword, bytes

// Equality of values and sections is of what they hold, not of their layout.
struct RegistryValue {
  std::string name;  // "" is the key's default value
  RegistryData data;
  std::string before;  // the comment and blank lines above it, as read
  std::string text;    // the lines it was read from; empty: written anew

  // A change of data drops the lines read, so the value is written anew; the
  // same data keeps them as they were.
  void Change(RegistryData newData);
  bool operator==(const RegistryValue& other) const {
    return name == other.name && data == other.data;
  }
};

struct RegistrySection {
  std::string path;  // parts joined by "\", without the root
  std::vector<RegistryValue> values;
  std::string before;  // the lines above its section line, as read
  std::string text;    // its section line as read; empty: a new key
  bool operator==(const RegistrySection& other) const {
    return path == other.path && values == other.values;
  }
};

struct RegistryText {
  std::vector<RegistrySection> sections;
  std::string ending;            // the comment and blank lines after the last value
  std::string lineBreak = "\n";  // the file's own, "\r\n" when its first line ends so
  bool byteOrderMark = false;
};

// Raises SettingsStoreError on any line it does not understand, on a value
// before the first section, and on a key or value name given twice (ignoring
// letter case), so a file it cannot represent is never rewritten.
RegistryText ParseRegistryText(std::string_view text);

// What was read, as it was read, with changed values in place and new values
// after the last of their key's; new keys follow the file's last line, each
// after an empty line. A file of new keys only is the plain format.
std::string FormatRegistryText(const RegistryText& file);

// A text that fits on one line of the file: no line break and no NUL byte.
bool FitsOnOneLine(std::string_view text);
