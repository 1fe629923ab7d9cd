#include "serial/store/registry_text.h"

#include <charconv>
#include <cstdio>

#include "serial/port/ascii_case.h"
#include "serial/store/store_file.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

[[noreturn]] void Malformed(size_t lineNumber, const std::string& why) {
  throw SettingsStoreError("settings file line " + std::to_string(lineNumber) + ": " + why);
}

std::string_view WithoutBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsExportHeader(std::string_view line) {
  return line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00";
}

// The file's lines one at a time, each as read (with its line break) and
// without its line break.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : rest_(text) {}

  bool Next() {
    if (rest_.empty()) return false;
    const size_t end = rest_.find('\n');
    raw_ = rest_.substr(0, end == std::string_view::npos ? rest_.size() : end + 1);
    rest_.remove_prefix(raw_.size());
    content_ = raw_;
    if (content_.ends_with('\n')) content_.remove_suffix(1);
    if (content_.ends_with('\r')) content_.remove_suffix(1);
    ++number_;
    return true;
  }
  std::string_view Raw() const { return raw_; }
  std::string_view Content() const { return content_; }
  size_t Number() const { return number_; }

 private:
  std::string_view rest_;
  std::string_view raw_;
  std::string_view content_;
  size_t number_ = 0;
};

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

uint32_t ParseHex(std::string_view digits, size_t minDigits, size_t maxDigits, size_t lineNumber,
                  const char* what) {
  uint32_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value, 16);
  if (digits.size() < minDigits || digits.size() > maxDigits || error != std::errc() ||
      stop != end) {
    Malformed(lineNumber, std::string(what) + " is not hexadecimal of the right length");
  }
  return value;
}

// "hex:01,02" or "hex(N):01,02" at the start of `rest`; a line that ends in
// "\" goes on in the next one, whose lines are added to `text`.
RegistryBytes ParseBytes(std::string_view rest, LineReader& lines, std::string& text) {
  const size_t lineNumber = lines.Number();
  RegistryBytes value;
  rest.remove_prefix(3);
  if (rest.starts_with('(')) {
    const size_t close = rest.find(')');
    if (close == std::string_view::npos) Malformed(lineNumber, "hex( needs \")\"");
    value.kind = ParseHex(rest.substr(1, close - 1), 1, 8, lineNumber, "the kind of a hex value");
    rest.remove_prefix(close + 1);
  }
  if (!rest.starts_with(':')) Malformed(lineNumber, "\":\" is expected after hex");
  rest.remove_prefix(1);
  std::string list;
  for (;;) {
    rest = WithoutBlanks(rest);
    const bool continued = rest.ends_with('\\');
    if (continued) rest.remove_suffix(1);
    list += rest;
    if (!continued) break;
    if (!lines.Next()) Malformed(lineNumber, "the value goes on past the end of the file");
    text += lines.Raw();
    rest = lines.Content();
  }
  for (size_t start = 0; !list.empty();) {
    const size_t comma = list.find(',', start);
    const std::string_view item =
        WithoutBlanks(std::string_view(list).substr(start, comma - start));
    value.bytes.push_back(static_cast<uint8_t>(ParseHex(item, 2, 2, lineNumber, "a byte")));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return value;
}

RegistryValue ParseValue(LineReader& lines) {
  const size_t lineNumber = lines.Number();
  RegistryValue value;
  value.text = lines.Raw();
  std::string_view rest = WithoutBlanks(lines.Content());
  if (rest.starts_with('@')) {
    rest.remove_prefix(1);
  } else {
    value.name = TakeQuoted(rest, lineNumber);
  }
  rest = WithoutBlanks(rest);
  if (!rest.starts_with('=')) Malformed(lineNumber, "\"=\" is expected after the name");
  rest = WithoutBlanks(rest.substr(1));
  if (rest.starts_with("dword:")) {
    value.data = ParseHex(rest.substr(6), 8, 8, lineNumber, "a dword");
  } else if (rest.starts_with("hex")) {
    value.data = ParseBytes(rest, lines, value.text);
  } else {
    value.data = TakeQuoted(rest, lineNumber);
    if (!rest.empty()) Malformed(lineNumber, "text after the value");
  }
  return value;
}

std::string_view SectionPath(std::string_view line, size_t lineNumber) {
  if (line.size() < 2 || line.back() != ']') Malformed(lineNumber, "a section needs \"]\"");
  return line.substr(1, line.size() - 2);
}

std::string ValueLine(const RegistryValue& value) {
  std::string line = value.name.empty() ? "@=" : Quoted(value.name) + "=";
  char digits[16];
  if (const auto* dword = std::get_if<uint32_t>(&value.data)) {
    std::snprintf(digits, sizeof digits, "%08x", *dword);
    return line + "dword:" + digits;
  }
  if (const auto* bytes = std::get_if<RegistryBytes>(&value.data)) {
    line += "hex";
    if (bytes->kind) {
      std::snprintf(digits, sizeof digits, "(%x)", *bytes->kind);
      line += digits;
    }
    line += ':';
    for (size_t i = 0; i < bytes->bytes.size(); ++i) {
      std::snprintf(digits, sizeof digits, i == 0 ? "%02x" : ",%02x", bytes->bytes[i]);
      line += digits;
    }
    return line;
  }
  return line + Quoted(std::get<std::string>(value.data));
}

bool EndsWithEmptyLine(std::string_view text) {
  if (!text.ends_with('\n')) return false;
  text.remove_suffix(1);
  if (text.ends_with('\r')) text.remove_suffix(1);
  return text.empty() || text.ends_with('\n');
}

}  // namespace

void RegistryValue::Change(RegistryData newData) {
  if (newData == data) return;
  data = std::move(newData);
  text.clear();
}

bool FitsOnOneLine(std::string_view text) {
  return text.find_first_of(std::string_view("\n\r\0", 3)) == std::string_view::npos;
}

RegistryText ParseRegistryText(std::string_view text) {
  RegistryText file;
  if (text.starts_with(kByteOrderMark)) {
    file.byteOrderMark = true;
    text.remove_prefix(kByteOrderMark.size());
  }
  const size_t firstBreak = text.find('\n');
  if (firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r') {
    file.lineBreak = "\r\n";
  }
  std::string layout;  // comment and blank lines that belong to what follows them
  LineReader lines(text);
  while (lines.Next()) {
    const std::string_view line = WithoutBlanks(lines.Content());
    if (line.empty() || line.front() == ';' || (lines.Number() == 1 && IsExportHeader(line))) {
      layout += lines.Raw();
      continue;
    }
    if (line.front() == '[') {
      const std::string_view path = SectionPath(line, lines.Number());
      for (const RegistrySection& known : file.sections) {
        if (EqualIgnoringCase(known.path, path))
          Malformed(lines.Number(), "the key is given twice");
      }
      file.sections.push_back({std::string(path), {}, std::move(layout), std::string(lines.Raw())});
      layout.clear();
      continue;
    }
    if (file.sections.empty()) Malformed(lines.Number(), "a value before the first section");
    const size_t lineNumber = lines.Number();
    RegistryValue value = ParseValue(lines);
    std::vector<RegistryValue>& values = file.sections.back().values;
    for (const RegistryValue& known : values) {
      if (EqualIgnoringCase(known.name, value.name))
        Malformed(lineNumber, "the value is given twice");
    }
    value.before = std::move(layout);
    layout.clear();
    values.push_back(std::move(value));
  }
  file.ending = std::move(layout);
  return file;
}

std::string FormatRegistryText(const RegistryText& file) {
  std::string out;
  const auto addLine = [&](const std::string& line) {
    // A last line read without its end gets one first; one cut after its CR
    // only lacks the LF, which a second CR would turn into a line of its own.
    if (out.ends_with('\r')) {
      out += '\n';
    } else if (!out.empty() && !out.ends_with('\n')) {
      out += file.lineBreak;
    }
    out += line + file.lineBreak;
  };
  const auto addSection = [&](const RegistrySection& section) {
    out += section.before;
    if (section.text.empty()) {
      if (!out.empty() && !EndsWithEmptyLine(out)) addLine("");
      addLine("[" + section.path + "]");
    } else {
      out += section.text;
    }
    for (const RegistryValue& value : section.values) {
      out += value.before;
      if (value.text.empty()) {
        addLine(ValueLine(value));
      } else {
        out += value.text;
      }
    }
  };
  for (const RegistrySection& section : file.sections) {
    if (!section.text.empty()) addSection(section);
  }
  out += file.ending;
  for (const RegistrySection& section : file.sections) {
    if (section.text.empty()) addSection(section);
  }
  return file.byteOrderMark ? std::string(kByteOrderMark) + out : out;
}
