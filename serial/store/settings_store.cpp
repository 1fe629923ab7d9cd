#include "serial/store/settings_store.h"

#include <charconv>
#include <cstdlib>

#include "serial/port/ascii_case.h"

namespace {

// A key path must stay a path of keys: no empty part, no "." or "..", nothing
// that would break the section line.
void CheckKeyPath(const std::string& path) {
  if (!FitsOnOneLine(path)) throw SettingsStoreError("key path with a line break: " + path);
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('\\', start);
    const std::string part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") {
      throw SettingsStoreError("key path with an empty, \".\" or \"..\" part: " + path);
    }
    if (end == std::string::npos) return;
    start = end + 1;
  }
}

void CheckValueText(const std::string& name, const std::string& text) {
  if (!FitsOnOneLine(name) || !FitsOnOneLine(text)) {
    throw SettingsStoreError("value with a line break: " + name);
  }
}

std::string ConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;  // relative values are ignored, as XDG says
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0')
    throw SettingsStoreError("no home folder for the settings");
  return std::string(home) + "/.config";
}

// Value names are matched ignoring letter case, as a registry does.
template <typename Values>
auto* FindValue(Values& values, const std::string& name) {
  for (auto& value : values) {
    if (EqualIgnoringCase(value.name, name)) return &value;
  }
  return static_cast<decltype(&values.front())>(nullptr);
}

}  // namespace

const char* RootName(RegistryRoot root) {
  return root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::optional<RegistryLocation> LocationOfKeyText(const std::string& keyText,
                                                  const std::string& componentName) {
  const size_t slash = keyText.find('\\');
  if (slash == std::string::npos) return std::nullopt;
  RegistryLocation location;
  const std::string first = keyText.substr(0, slash);
  if (EqualIgnoringCase(first, RootName(RegistryRoot::LocalMachine))) {
    location.root = RegistryRoot::LocalMachine;
  }
  location.path = keyText.substr(slash + 1);
  if (!location.path.ends_with('\\')) location.path += '\\';
  location.path += componentName;
  return location;
}

std::string RegistryFilePath(RegistryRoot root) {
  return ConfigFolder() + "/tarvo/" + RootName(root) + ".reg";
}

TRegistryKey::TRegistryKey() { file_.sections.resize(1); }

TRegistryKey TRegistryKey::Open(const RegistryLocation& location, bool forWriting) {
  CheckKeyPath(location.path);
  TRegistryKey key;
  key.filePath_ = RegistryFilePath(location.root);
  if (forWriting) {
    CreateStoreFolders(key.filePath_);
    key.lock_.emplace(key.filePath_);
  }
  const std::optional<std::string> text = ReadStoreFile(key.filePath_);
  key.file_ = text ? ParseRegistryText(*text) : RegistryText{};
  std::vector<RegistrySection>& sections = key.file_.sections;
  for (key.index_ = 0; key.index_ < sections.size(); ++key.index_) {
    if (EqualIgnoringCase(sections[key.index_].path, location.path)) return key;
  }
  if (!forWriting) throw SettingsStoreError("no key " + location.path + " in " + key.filePath_);
  sections.push_back({location.path, {}, "", ""});
  return key;
}

RegistryValue* TRegistryKey::Find(const std::string& name) {
  return FindValue(file_.sections[index_].values, name);
}

const RegistryValue* TRegistryKey::Find(const std::string& name) const {
  return FindValue(file_.sections[index_].values, name);
}

void TRegistryKey::Write(const std::string& name, RegistryData data) {
  if (RegistryValue* known = Find(name)) {
    known->Change(std::move(data));
  } else {
    file_.sections[index_].values.push_back({name, std::move(data), "", ""});
  }
}

void TRegistryKey::WriteString(const std::string& name, const std::string& value) {
  CheckValueText(name, value);
  Write(name, value);
}

void TRegistryKey::WriteInteger(const std::string& name, int32_t value) {
  CheckValueText(name, "");
  Write(name, static_cast<uint32_t>(value));
}

std::optional<std::string> TRegistryKey::ReadString(const std::string& name) const {
  const RegistryValue* value = Find(name);
  if (value == nullptr) return std::nullopt;
  if (const auto* text = std::get_if<std::string>(&value->data)) return *text;
  throw SettingsStoreError("value " + name + " is not a text");
}

std::optional<int32_t> TRegistryKey::ReadInteger(const std::string& name) const {
  const RegistryValue* value = Find(name);
  if (value == nullptr) return std::nullopt;
  if (const auto* dword = std::get_if<uint32_t>(&value->data)) return static_cast<int32_t>(*dword);
  const auto* text = std::get_if<std::string>(&value->data);
  if (text == nullptr) throw SettingsStoreError("value " + name + " is neither integer nor text");
  int32_t number = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), number);
  if (text->empty() || error != std::errc() || end != text->data() + text->size()) {
    throw SettingsStoreError("value " + name + " is no integer: " + *text);
  }
  return number;
}

const std::vector<RegistryValue>& TRegistryKey::Values() const {
  return file_.sections[index_].values;
}

void TRegistryKey::Flush() {
  if (filePath_.empty()) return;
  if (!lock_) throw SettingsStoreError("the key was not opened for writing: " + filePath_);
  ReplaceStoreFile(filePath_, FormatRegistryText(file_));
}
