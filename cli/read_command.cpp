// read: all ten panels.
#include "station/text.h"
#include "cli/commands.h"
#include "cli/find_sign.h"
#include "station/panel_json.h"
#include "cli/port_error.h"
#include "station/port_state.h"
#include "cli/sign_panels.h"
#include "serial/port/port_names.h"

namespace tarvo_cli {

ExitStatus RunRead(const Options& options, Console& console) {
  Tracer tracer(console.err);
  Tracer* trace = options.trace ? &tracer : nullptr;
  const std::string name = ChosenPort(options, trace);
  const std::string device = DeviceForPort(name).value_or("");
  SignPanels panels;
  try {
    SignLine line(name, options, trace);
    panels = ReadPanels(line, station::PortLabel(name, device));
  } catch (const EComPort& error) {
    throw PortFailure(error, name);
  } catch (const CliFailure& unanswered) {
    throw CliFailure(unanswered.Status(), unanswered.what(), name);
  }
  std::string unread;
  for (const auto& [address, record] : panels) {
    if (!record) unread += (unread.empty() ? "" : ", ") + std::to_string(address);
  }
  const std::string failure =
      unread.empty() ? std::string()
                     : station::PortLabel(name, device) + ": " +
                           station::Format(
                               "no proper answer from panel %s; check the sign's cable and power",
                               {unread});
  const ExitStatus status = unread.empty() ? ExitStatus::kDone : ExitStatus::kNotConfirmed;
  if (options.json) {
    nlohmann::json document = {{"port", name}, {"device", device}, {"panels", PanelsJson(panels)}};
    if (!failure.empty()) document["error"] = ErrorJson(status, failure, name);
    console.out << station::Dump(document) << '\n';
  } else {
    console.out << station::PortLabel(name, device) << '\n';
    PrintPanels(console.out, panels);
  }
  if (!failure.empty()) console.err << "tarvo-cli: " << failure << '\n';
  return status;
}

}  // namespace tarvo_cli
