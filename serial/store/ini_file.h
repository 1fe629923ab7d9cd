#pragma once
// The ini-file target of the port's settings. A store keeps everything else in
// the file and replaces it atomically; failures raise SettingsStoreError.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "serial/store/store_file.h"

// A plain ini file: "[section]" lines and "name=value" lines. Lines it does not
// understand (comments, anything else) are kept as they are.
class TIniFile {
 public:
  // Reads the file if it exists; an unreadable file raises. For writing,
  // other programs' stores of the file wait until this object is destroyed.
  TIniFile(const std::string& fileName, bool forWriting);

  void WriteString(const std::string& section, const std::string& name, const std::string& value);
  std::optional<std::string> ReadString(const std::string& section, const std::string& name) const;
  // The section's values in file order; a name given twice counts once, as
  // ReadString finds it.
  std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section) const;

  // Writes the whole file atomically; raises unless opened for writing.
  void Flush();

 private:
  struct Line {
    enum Kind { kSection, kEntry, kOther } kind;
    std::string text;   // the line as it stands in the file
    std::string name;   // section name or value name
    std::string value;  // value of an entry
  };
  static Line ParseLine(const std::string& text);
  // Index of the section's header line, or nothing.
  std::optional<size_t> FindSection(const std::string& section) const;
  // Index of the value's line inside the section that starts at `header`.
  std::optional<size_t> FindEntry(size_t header, const std::string& name) const;

  std::string fileName_;
  std::optional<StoreFileLock> lock_;
  std::vector<Line> lines_;
};
