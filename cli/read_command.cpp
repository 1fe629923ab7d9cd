// read: all ten panels.
#include "station/text.h"
#include "cli/commands.h"
#include "station/find_sign.h"
#include "station/panel_json.h"
#include "station/port_error.h"
#include "station/port_state.h"
#include "station/sign_panels.h"
#include "serial/port/port_names.h"

namespace tarvo_cli {

station::ExitStatus RunRead(const Options& options, Console& console) {
  station::Tracer tracer(console.err);
  station::Tracer* trace = options.trace ? &tracer : nullptr;
  const std::string name = station::ChosenPort(options.port, options.timeoutMs, trace);
  const std::string device = DeviceForPort(name).value_or("");
  station::SignPanels panels;
  try {
    station::SignLine line(name, options.timeoutMs, trace);
    panels = station::ReadPanels(line, station::PortLabel(name, device));
  } catch (const EComPort& error) {
    throw station::PortFailure(error, name);
  } catch (const station::CliFailure& unanswered) {
    throw station::CliFailure(unanswered.Status(), unanswered.what(), name);
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
  const station::ExitStatus status = unread.empty() ? station::ExitStatus::kDone : station::ExitStatus::kNotConfirmed;
  if (options.json) {
    nlohmann::json document = {{"port", name}, {"device", device}, {"panels", station::PanelsJson(panels)}};
    if (!failure.empty()) document["error"] = station::ErrorJson(status, failure, name);
    console.out << station::Dump(document) << '\n';
  } else {
    console.out << station::PortLabel(name, device) << '\n';
    station::PrintPanels(console.out, panels);
  }
  if (!failure.empty()) console.err << "tarvo-cli: " << failure << '\n';
  return status;
}

}  // namespace tarvo_cli
