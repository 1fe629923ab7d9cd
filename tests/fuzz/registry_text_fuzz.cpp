// Any bytes as a settings store file: the parser either refuses them with the
// store's error or reads a file that, written unchanged, is the same bytes;
// its keys and values written anew parse back equal, and that text is written
// the same way again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "serial/store/registry_text.h"
#include "serial/store/store_file.h"
#include "tests/fuzz/fuzz_check.h"

using tarvo::fuzz::Check;

namespace {

// The same keys and values as if every one were new: nothing of the layout read.
RegistryText Anew(RegistryText file) {
  for (RegistrySection& section : file.sections) {
    section.before.clear();
    section.text.clear();
    for (RegistryValue& value : section.values) {
      value.before.clear();
      value.text.clear();
    }
  }
  file.ending.clear();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegistryText file;
  try {
    file = ParseRegistryText(text);
  } catch (const SettingsStoreError&) {
    return 0;  // refused cleanly; anything else escapes and is a finding
  }
  const std::string unchanged = FormatRegistryText(file);
  Check(unchanged == text, "a file written unchanged is the same bytes", text, unchanged);

  const std::string written = FormatRegistryText(Anew(file));
  RegistryText again;
  try {
    again = ParseRegistryText(written);
  } catch (const SettingsStoreError& e) {
    tarvo::fuzz::Fail("values written anew parse again", written, e.what());
  }
  Check(again.sections == file.sections, "values written anew parse to what was written", written,
        FormatRegistryText(Anew(again)));
  Check(FormatRegistryText(Anew(again)) == written, "writing is stable", written,
        FormatRegistryText(Anew(again)));
  return 0;
}
