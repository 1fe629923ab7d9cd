// read: all ten panels.
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
  }
  if (options.json) {
    console.out << station::Dump({{"port", name}, {"device", device}, {"panels", PanelsJson(panels)}})
                << '\n';
  } else {
    console.out << station::PortLabel(name, device) << '\n';
    PrintPanels(console.out, panels);
  }
  std::string unread;
  for (const auto& [address, record] : panels) {
    if (!record) unread += (unread.empty() ? "" : ", ") + std::to_string(address);
  }
  if (unread.empty()) return ExitStatus::kDone;
  console.err << "tarvo-cli: " << station::PortLabel(name, device) << ": no proper answer from panel "
              << unread << "; check the sign's cable and power\n";
  return ExitStatus::kNotConfirmed;
}

}  // namespace tarvo_cli
