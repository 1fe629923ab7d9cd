#include "station/text.h"
#include "station/port_error.h"

#include <cerrno>
#include <cstring>

#include "station/port_state.h"
#include "serial/port/port_names.h"

namespace station {

namespace {

bool DeviceVanished(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

std::string Lowercase(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] + 32);
  return text;
}

}  // namespace

std::string PortErrorText(const EComPort& error, const std::string& portName) {
  const station::PortStatus status = station::InspectPort(portName);
  const int system = error.SystemError();
  if (error.ErrorCode() == kErrOpen) {
    if (system == EBUSY || system == EWOULDBLOCK) {
      return status.state == station::PortState::kBusy
                 ? station::StateDetail(status)
                 : station::Tr("busy: held exclusively by a program of another user, or left so "
                               "by one that was killed; close that program, or run the command "
                               "once as root to clear what a killed one left");
    }
    if (status.state != station::PortState::kFree) return station::StateDetail(status);
    if (system == EACCES || system == EPERM)
      return station::Tr("no access; add the user to the device's group");
    if (system == ENOTTY) return station::Tr("not a terminal; name a serial device");
    if (system == ENOENT || DeviceVanished(system))
      return station::Tr("no such device; plug in the adapter or check the port name");
  } else if (DeviceVanished(system)) {
    return station::Tr("the device went away (cable pulled or adapter removed); plug it in and "
                       "run the command again");
  }
  const std::string cause = system > 0 ? ": " + Lowercase(std::strerror(system)) : "";
  // No known cause: the component's own text for what failed, and the system's words.
  return ComErrorText(error.ErrorCode()) + cause;
}

CliFailure PortFailure(const EComPort& error, const std::string& portName) {
  const std::string device = DeviceForPort(portName).value_or("");
  return CliFailure(ExitStatus::kPortError,
                    station::PortLabel(portName, device) + ": " + PortErrorText(error, portName),
                    portName);
}

}  // namespace station
