#include "serial/store/ini_file.h"

#include "serial/port/ascii_case.h"
#include "serial/store/registry_text.h"

namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Lines starting so are comments, which is why no value name may start so.
bool StartsComment(char c) { return c == ';' || c == '#'; }

// Names and values must come back as they were written: one line, no
// characters that would make the line read as something else.
void CheckEntry(const std::string& section, const std::string& name, const std::string& value) {
  const bool sectionFits = !section.empty() && FitsOnOneLine(section) &&
                           section.find(']') == std::string::npos && Trimmed(section) == section;
  const bool nameFits = !name.empty() && FitsOnOneLine(name) &&
                        name.find('=') == std::string::npos && name[0] != '[' &&
                        !StartsComment(name[0]) && Trimmed(name) == name;
  if (!sectionFits || !nameFits || !FitsOnOneLine(value) || Trimmed(value) != value) {
    throw SettingsStoreError("cannot write [" + section + "] " + name + " to an ini file");
  }
}

}  // namespace

TIniFile::TIniFile(const std::string& fileName, bool forWriting) : fileName_(fileName) {
  if (fileName.empty()) throw SettingsStoreError("no ini file name");
  if (forWriting) lock_.emplace(fileName);
  const std::optional<std::string> text = ReadStoreFile(fileName);
  if (!text) return;
  size_t start = 0;
  while (start < text->size()) {
    const size_t end = text->find('\n', start);
    lines_.push_back(ParseLine(text->substr(start, end - start)));
    start = end == std::string::npos ? text->size() : end + 1;
  }
}

TIniFile::Line TIniFile::ParseLine(const std::string& text) {
  const std::string trimmed = Trimmed(text);
  if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
    return {Line::kSection, text, Trimmed(trimmed.substr(1, trimmed.size() - 2)), ""};
  }
  const size_t equals = trimmed.find('=');
  if (equals != std::string::npos && !StartsComment(trimmed[0])) {
    const std::string name = Trimmed(trimmed.substr(0, equals));
    if (!name.empty()) return {Line::kEntry, text, name, Trimmed(trimmed.substr(equals + 1))};
  }
  return {Line::kOther, text, "", ""};
}

std::optional<size_t> TIniFile::FindSection(const std::string& section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Line::kSection && EqualIgnoringCase(lines_[i].name, section)) return i;
  }
  return std::nullopt;
}

std::optional<size_t> TIniFile::FindEntry(size_t header, const std::string& name) const {
  for (size_t i = header + 1; i < lines_.size() && lines_[i].kind != Line::kSection; ++i) {
    if (lines_[i].kind == Line::kEntry && EqualIgnoringCase(lines_[i].name, name)) return i;
  }
  return std::nullopt;
}

void TIniFile::WriteString(const std::string& section, const std::string& name,
                           const std::string& value) {
  CheckEntry(section, name, value);
  std::optional<size_t> header = FindSection(section);
  if (!header) {
    if (!lines_.empty() && !Trimmed(lines_.back().text).empty()) lines_.push_back(ParseLine(""));
    lines_.push_back(ParseLine("[" + section + "]"));
    header = lines_.size() - 1;
  }
  if (const std::optional<size_t> entry = FindEntry(*header, name)) {
    Line& line = lines_[*entry];
    line.value = value;
    line.text = line.name + "=" + value;
    return;
  }
  // A new value goes after the section's last value, before its trailing blank lines.
  size_t at = *header + 1;
  for (size_t i = at; i < lines_.size() && lines_[i].kind != Line::kSection; ++i) {
    if (lines_[i].kind == Line::kEntry) at = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), ParseLine(name + "=" + value));
}

std::optional<std::string> TIniFile::ReadString(const std::string& section,
                                                const std::string& name) const {
  const std::optional<size_t> header = FindSection(section);
  if (!header) return std::nullopt;
  const std::optional<size_t> entry = FindEntry(*header, name);
  if (!entry) return std::nullopt;
  return lines_[*entry].value;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSection(
    const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> values;
  const std::optional<size_t> header = FindSection(section);
  if (!header) return values;
  for (size_t i = *header + 1; i < lines_.size() && lines_[i].kind != Line::kSection; ++i) {
    if (lines_[i].kind == Line::kEntry && FindEntry(*header, lines_[i].name) == i) {
      values.emplace_back(lines_[i].name, lines_[i].value);
    }
  }
  return values;
}

void TIniFile::Flush() {
  if (!lock_) throw SettingsStoreError("the ini file was not opened for writing: " + fileName_);
  std::string text;
  for (const Line& line : lines_) text += line.text + "\n";
  ReplaceStoreFile(fileName_, text);
}
