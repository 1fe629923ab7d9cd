#pragma once
// The registry of the port's settings. Linux has no registry: each root key is
// a file $XDG_CONFIG_HOME/tarvo/<ROOT>.reg holding its keys as sections. A
// store keeps every other key and value and replaces the file atomically;
// failures raise SettingsStoreError.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/store/registry_text.h"
#include "serial/store/store_file.h"

enum class RegistryRoot { CurrentUser, LocalMachine };

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
const char* RootName(RegistryRoot root);

struct RegistryLocation {
  RegistryRoot root = RegistryRoot::CurrentUser;
  std::string path;  // e.g. Software\TARVO\ComPort
  bool operator==(const RegistryLocation&) const = default;
};

// A key text such as "HKEY_LOCAL_MACHINE\Software\TARVO" and the component's
// name: the text up to the first "\" selects the root when it names one
// (ignoring letter case; otherwise HKEY_CURRENT_USER), the rest is the path, to
// which "\" and the name are appended. A text without "\" gives nothing.
std::optional<RegistryLocation> LocationOfKeyText(const std::string& keyText,
                                                  const std::string& componentName);

// $XDG_CONFIG_HOME/tarvo/<ROOT>.reg, XDG_CONFIG_HOME defaulting to ~/.config.
std::string RegistryFilePath(RegistryRoot root);

// One key: its values in order, each a text or an integer (a dword in the file).
// A key made with the default constructor belongs to no file and only collects
// values; Open binds a key to its store file.
class TRegistryKey {
 public:
  TRegistryKey();

  // Reads the root's file; a key path with an empty part, "." or "..", or a
  // file that cannot be read or parsed, raises. For writing, a missing key is
  // created in memory and other programs' stores wait until this key is
  // destroyed; otherwise a missing key raises.
  static TRegistryKey Open(const RegistryLocation& location, bool forWriting);

  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  // Nothing when the value does not exist; a value of another kind raises
  // (a text is accepted as an integer only when it is a decimal number).
  std::optional<std::string> ReadString(const std::string& name) const;
  std::optional<int32_t> ReadInteger(const std::string& name) const;
  const std::vector<RegistryValue>& Values() const;

  // Writes the whole file with this key's values; a key of no file does
  // nothing, a key not opened for writing raises.
  void Flush();

 private:
  RegistryValue* Find(const std::string& name);
  const RegistryValue* Find(const std::string& name) const;
  void Write(const std::string& name, RegistryData data);

  std::string filePath_;  // empty for a key of no file
  std::optional<StoreFileLock> lock_;
  RegistryText file_;  // the whole file
  size_t index_ = 0;   // this key's section
};
