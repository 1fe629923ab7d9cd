// find: where a sign answers, which port is used, and why the others failed.
#include "station/text.h"
#include "cli/commands.h"
#include "station/find_sign.h"
#include "station/panel_json.h"
#include "station/port_state.h"

namespace tarvo_cli {

station::ExitStatus RunFind(const Options& options, Console& console) {
  station::Tracer tracer(console.err);
  const station::FindResult found = station::FindSign(options.timeoutMs, options.trace ? &tracer : nullptr);
  nlohmann::json list = nlohmann::json::array();
  for (const station::ProbeOutcome& port : found.ports) {
    const std::string result = port.answered          ? "sign"
                               : port.failure.empty() ? "silent"
                                                      : "not opened";
    if (options.json) {
      nlohmann::json entry = {{"port", port.name}, {"device", port.device}, {"result", result}};
      if (!port.failure.empty()) entry["reason"] = port.failure;
      list.push_back(entry);
    } else {
      console.out << port.name << "  " << port.device << "  "
                  << (port.answered          ? station::Tr("a sign answers")
                      : port.failure.empty() ? station::Tr("silent")
                                             : station::Format("not opened: %s", {port.failure}))
                  << '\n';
    }
  }
  const station::ExitStatus status = found.used ? station::ExitStatus::kDone : station::NoSignStatus(found);
  if (options.json) {
    nlohmann::json document = {{"ports", list},
                               {"used", found.used ? nlohmann::json(*found.used) : nullptr}};
    if (!found.used) document["error"] = station::ErrorJson(status, station::NoSignText(found));
    console.out << station::Dump(document) << '\n';
  } else {
    console.out << (found.used ? station::Format("using %s", {*found.used})
                               : station::Tr("no sign found"))
                << '\n';
  }
  if (!found.used) console.err << "tarvo-cli: " << station::NoSignText(found) << '\n';
  return status;
}

}  // namespace tarvo_cli
