// ports: every port name whose device exists, with its state; sends nothing
// and opens nothing.
#include "cli/commands.h"
#include "station/find_sign.h"
#include "station/panel_json.h"
#include "station/port_state.h"

namespace tarvo_cli {

station::ExitStatus RunPorts(const Options& options, Console& console) {
  const std::vector<std::string> names = station::ListedPorts();
  nlohmann::json list = nlohmann::json::array();
  for (const std::string& name : names) {
    const station::PortStatus status = station::InspectPort(name);
    if (options.json) {
      nlohmann::json port = {
          {"port", name}, {"device", status.device}, {"state", station::StateText(status.state)}};
      if (status.state == station::PortState::kBusy) port["holder"] = status.holder;
      if (status.state == station::PortState::kNoAccess) port["group"] = status.group;
      list.push_back(port);
    } else {
      console.out << name << "  " << status.device << "  " << station::StateDetail(status) << '\n';
    }
  }
  if (options.json) console.out << station::Dump({{"ports", list}}) << '\n';
  return station::ExitStatus::kDone;
}

}  // namespace tarvo_cli
