// Any file as the port's stored settings, in the registry file or an ini file:
// a load either takes the settings or fails with the load error and leaves
// the file as it was; a store of what was loaded, loaded again, gives the
// same settings and keeps every other key and value of the file, and storing
// them again changes no byte; a file that cannot be parsed is never
// overwritten. A value written to an ini file reads
// back, also from the file.
//
// Input: one mode byte (bit 0: the ini target), two bytes of the file's length
// (low byte first), the file's bytes, then a section, a name and a value for
// the ini write, NUL apart.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "serial/CPort.h"
#include "serial/port/ascii_case.h"
#include "serial/store/ini_file.h"
#include "serial/store/registry_text.h"
#include "serial/store/settings_store.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using tarvo::fuzz::Check;
using tarvo::fuzz::Fail;

constexpr const char kKeyText[] = "HKEY_CURRENT_USER\\Software\\TARVO";
constexpr const char kKeyPath[] = "Software\\TARVO\\ComPort";
const TStoredProps kAllGroups{pgBasic, pgFlowControl, pgBuffer, pgTimeouts, pgParity, pgOther};

struct Paths {
  std::string root;
  std::string registryFile;
  std::string iniFile;
  std::string compareA;
  std::string compareB;
};
Paths paths;

// The settings live in a folder of the fuzzer's own, in memory where possible
// (a store flushes every file to disk).
void MakeFolders() {
  const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/tarvo-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  paths.root = pattern;
  std::filesystem::create_directories(paths.root + "/config/tarvo");
  std::filesystem::create_directories(paths.root + "/com");
  setenv("XDG_CONFIG_HOME", (paths.root + "/config").c_str(), 1);
  setenv("TARVO_COM_DIR", (paths.root + "/com").c_str(), 1);
  paths.registryFile = paths.root + "/config/tarvo/HKEY_CURRENT_USER.reg";
  paths.iniFile = paths.root + "/port.ini";
  paths.compareA = paths.root + "/a.ini";
  paths.compareB = paths.root + "/b.ini";
  std::atexit([] { std::filesystem::remove_all(paths.root); });
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
}

struct NamedPort : TComPort {
  NamedPort() {
    SetName("ComPort");
    SetPersistedGroups(kAllGroups);
  }
};

// The store error code of a call, 0 when it succeeds.
template <typename Call>
int ErrorOf(Call call) {
  try {
    call();
  } catch (const EComPort& e) {
    return e.ErrorCode();
  }
  return 0;
}

// Every persisted setting of a port, as the ini target writes it.
std::string StoredText(TComPort& port, const std::string& file) {
  std::filesystem::remove(file);
  if (ErrorOf([&] { port.SavePortSettings(true, file); }) != 0) return "(store failed)";
  return ReadFile(file);
}

std::optional<RegistryText> Parsed(std::string_view text) {
  try {
    return ParseRegistryText(text);
  } catch (const SettingsStoreError&) {
    return std::nullopt;
  }
}

// The store rewrote only the port's own values: every other key is as it
// was, and every value of the port's key that the port does not write too.
void CheckOthersKept(const RegistryText& before, const std::string& file, TComPort& port) {
  TRegistryKey written;
  port.WriteSettingsToRegistry(written);
  auto portWrites = [&](const std::string& name) {
    return std::any_of(written.Values().begin(), written.Values().end(),
                       [&](const RegistryValue& v) { return EqualIgnoringCase(v.name, name); });
  };
  const std::optional<RegistryText> after = Parsed(ReadFile(file));
  Check(after.has_value(), "a stored file parses", "", ReadFile(file));
  for (const RegistrySection& old : before.sections) {
    const RegistrySection* now = nullptr;
    for (const RegistrySection& s : after->sections) {
      if (EqualIgnoringCase(s.path, old.path)) now = &s;
    }
    Check(now != nullptr, "a store keeps every key", old.path, "no such key");
    if (!EqualIgnoringCase(old.path, kKeyPath)) {
      Check(*now == old, "a store keeps other keys as they were", old.path, now->path);
      continue;
    }
    for (const RegistryValue& value : old.values) {
      const auto same = [&](const RegistryValue& v) {
        return EqualIgnoringCase(v.name, value.name);
      };
      const auto kept = std::find_if(now->values.begin(), now->values.end(), same);
      Check(kept != now->values.end(), "a store keeps every value", value.name, "no such value");
      if (!portWrites(value.name))
        Check(*kept == value, "a store keeps values it does not write", value.name);
    }
  }
}

void CheckLoadAndStore(bool iniTarget, std::string_view content) {
  const std::string& file = iniTarget ? paths.iniFile : paths.registryFile;
  const std::string location = iniTarget ? paths.iniFile : kKeyText;
  WriteFile(file, content);

  NamedPort loaded;
  const int loadError = ErrorOf([&] { loaded.LoadPortSettings(iniTarget, location); });
  Check(loadError == 0 || loadError == kErrLoad, "a load fails only with the load error",
        std::to_string(kErrLoad), std::to_string(loadError));
  Check(ReadFile(file) == content, "a load leaves the file as it was", content, ReadFile(file));

  const std::optional<RegistryText> before = iniTarget ? std::nullopt : Parsed(content);
  const int storeError = ErrorOf([&] { loaded.SavePortSettings(iniTarget, location); });
  Check(storeError == 0 || storeError == kErrStore, "a store fails only with the store error",
        std::to_string(kErrStore), std::to_string(storeError));
  if (storeError != 0) {
    Check(ReadFile(file) == content, "a failed store leaves the file as it was", content,
          ReadFile(file));
    return;
  }
  if (!iniTarget) {
    if (!before) Fail("a file that cannot be parsed is never overwritten", content, ReadFile(file));
    CheckOthersKept(*before, file, loaded);
  }
  if (loadError != 0) return;

  NamedPort reloaded;
  const int reloadError = ErrorOf([&] { reloaded.LoadPortSettings(iniTarget, location); });
  Check(reloadError == 0, "what a store wrote loads again", "0", std::to_string(reloadError));
  const std::string first = StoredText(loaded, paths.compareA);
  const std::string second = StoredText(reloaded, paths.compareB);
  Check(first == second, "settings stored and loaded again are the same", first, second);
  const std::string stored = ReadFile(file);
  const int againError = ErrorOf([&] { reloaded.SavePortSettings(iniTarget, location); });
  Check(againError == 0 && ReadFile(file) == stored,
        "storing the same settings again changes no byte", stored, ReadFile(file));
}

void CheckIniWrite(std::string_view section, std::string_view name, std::string_view value) {
  const std::string s(section), n(name), v(value);
  TIniFile ini(paths.iniFile, true);
  try {
    ini.WriteString(s, n, v);
  } catch (const SettingsStoreError&) {
    return;  // a name or value the file cannot hold is refused
  }
  const std::optional<std::string> now = ini.ReadString(s, n);
  Check(now == v, "an ini value reads back as written", v, now.value_or("nothing"));
  try {
    ini.Flush();
  } catch (const SettingsStoreError& e) {
    Fail("an ini file is written", "", e.what());
  }
  const std::optional<std::string> fromFile = TIniFile(paths.iniFile, false).ReadString(s, n);
  Check(fromFile == v, "an ini value reads back from the file", v, fromFile.value_or("nothing"));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFolders();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool iniTarget = (data[0] & 1) != 0;
  const size_t length = data[1] | static_cast<size_t>(data[2]) << 8;
  std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
  const std::string_view content = rest.substr(0, length);
  rest.remove_prefix(content.size());
  auto take = [&rest] {
    const size_t end = rest.find('\0');
    const std::string_view part = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return part;
  };
  CheckLoadAndStore(iniTarget, content);
  if (iniTarget) {
    const std::string_view section = take();
    const std::string_view name = take();
    CheckIniWrite(section, name, rest);
  }
  return 0;
}
