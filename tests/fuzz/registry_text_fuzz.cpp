// Any bytes as a settings store file: the parser either refuses them with the
// store's error or gives sections that, written and parsed again, come back
// equal, and whose text is then written the same way.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "serial/store/registry_text.h"
#include "serial/store/store_file.h"
#include "tests/fuzz/fuzz_check.h"

using tarvo::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<RegistrySection> sections;
  try {
    sections = ParseRegistryText(text);
  } catch (const SettingsStoreError&) {
    return 0;  // refused cleanly; anything else escapes and is a finding
  }
  const std::string written = FormatRegistryText(sections);
  std::vector<RegistrySection> again;
  try {
    again = ParseRegistryText(written);
  } catch (const SettingsStoreError& e) {
    tarvo::fuzz::Fail("a written file parses again", written, e.what());
  }
  Check(again == sections, "a written file parses to what was written", written,
        FormatRegistryText(again));
  Check(FormatRegistryText(again) == written, "writing is stable", written,
        FormatRegistryText(again));
  return 0;
}
