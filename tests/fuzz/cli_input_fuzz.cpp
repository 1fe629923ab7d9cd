// Any bytes as the SPECs of a write (one a line) and as the --file document.
// Either is refused as bad usage, or every panel it gives is a real panel
// with fields the sign link can carry, and giving those panels to the file
// reader in the form `read --json` prints yields the same panels again.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "station/input_error.h"
#include "station/panel_json.h"
#include "station/panel_request.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using tarvo::fuzz::Check;
using station::PanelRequest;

std::string Describe(const station::PanelRequest& r) {
  return std::to_string(r.address) + "=" + r.price.value_or("?") + ":" + r.grade.value_or('?') +
         ":" + r.inscription.value_or('?');
}

void CheckRequests(const std::vector<station::PanelRequest>& requests) {
  std::set<int> addresses;
  for (const station::PanelRequest& r : requests) {
    Check(station::IsPanelAddress(r.address), "a panel address", "0..4 or 8..12", Describe(r));
    Check(addresses.insert(r.address).second, "each panel once", "", Describe(r));
    Check(r.price.has_value(), "a price is always given", "", Describe(r));
    const std::string& price = *r.price;
    const bool digits =
        price.size() == 4 && price.find_first_not_of("0123456789") == std::string::npos;
    Check(digits || price == "----", "four digits or ----", "", Describe(r));
    if (r.grade) Check(*r.grade >= '1' && *r.grade <= '5', "grade code 1..5", "", Describe(r));
    if (r.inscription)
      Check(*r.inscription >= '0' && *r.inscription <= '3', "inscription 0..3", "", Describe(r));
  }
}

// What read --json would print for the complete requests reads back the same.
void CheckRoundTrip(const std::vector<station::PanelRequest>& requests) {
  nlohmann::json panels = nlohmann::json::array();
  std::vector<station::PanelRequest> complete;
  for (const station::PanelRequest& r : requests) {
    if (!station::Complete(r)) continue;
    panels.push_back(station::PanelJson(r.address, station::Merged({}, r)));
    complete.push_back(r);
  }
  if (complete.empty()) return;  // a file without a panel is refused
  const std::string document = station::Dump({{"panels", panels}});
  Check(station::ParsePanelFile(document) == complete, "the file of a read reads back", "",
        document);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const bool asFile : {false, true}) {
    try {
      const std::vector<station::PanelRequest> requests =
          asFile ? station::ParsePanelFile(text) : station::ParseSpecs(Lines(text));
      CheckRequests(requests);
      CheckRoundTrip(requests);
    } catch (const station::InputError&) {
      // refused as bad input: nothing to check
    }
  }
  return 0;
}
