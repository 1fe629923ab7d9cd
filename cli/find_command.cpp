// find: where a sign answers, which port is used, and why the others failed.
#include "station/text.h"
#include "cli/commands.h"
#include "cli/find_sign.h"
#include "station/panel_json.h"
#include "station/port_state.h"

namespace tarvo_cli {

ExitStatus RunFind(const Options& options, Console& console) {
  Tracer tracer(console.err);
  const FindResult found = FindSign(options, options.trace ? &tracer : nullptr);
  nlohmann::json list = nlohmann::json::array();
  for (const ProbeOutcome& port : found.ports) {
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
  const ExitStatus status = found.used ? ExitStatus::kDone : NoSignStatus(found);
  if (options.json) {
    nlohmann::json document = {{"ports", list},
                               {"used", found.used ? nlohmann::json(*found.used) : nullptr}};
    if (!found.used) document["error"] = ErrorJson(status, NoSignText(found));
    console.out << station::Dump(document) << '\n';
  } else {
    console.out << (found.used ? station::Format("using %s", {*found.used})
                               : station::Tr("no sign found"))
                << '\n';
  }
  if (!found.used) console.err << "tarvo-cli: " << NoSignText(found) << '\n';
  return status;
}

}  // namespace tarvo_cli
