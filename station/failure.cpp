#include "station/failure.h"

#include "serial/port/port_names.h"

namespace station {

nlohmann::json ErrorJson(ExitStatus status, const std::string& message, const std::string& port) {
  const std::optional<std::string> device = port.empty() ? std::nullopt : DeviceForPort(port);
  return {{"status", static_cast<int>(status)},
          {"port", port.empty() ? nlohmann::json() : nlohmann::json(port)},
          {"device", device ? nlohmann::json(*device) : nlohmann::json()},
          {"message", message}};
}

}  // namespace station
