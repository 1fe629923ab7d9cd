#include "cli/port_error.h"

#include <cerrno>
#include <cstring>

#include "cli/port_state.h"
#include "serial/port/port_names.h"

namespace tarvo_cli {

namespace {

bool DeviceVanished(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

// What the component was doing, for an error of no known cause.
std::string Operation(int code) {
  switch (code) {
    case kErrOpen:
      return "cannot open";
    case kErrWrite:
      return "sending failed";
    case kErrRead:
      return "receiving failed";
    case kErrPurge:
      return "discarding the queues failed";
    case kErrClearError:
      return "counting the waiting bytes failed";
    case kErrSetState:
    case kErrSetTimeouts:
    case kErrSetupQueues:
      return "the line settings were refused";
    case kErrModemStatus:
      return "reading the modem lines failed";
    case kErrRegistry:
      return "cannot list the ports";
    default:
      return "port error";
  }
}

std::string Lowercase(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] + 32);
  return text;
}

}  // namespace

std::string PortErrorText(const EComPort& error, const std::string& portName) {
  const PortStatus status = InspectPort(portName);
  const int system = error.SystemError();
  if (error.ErrorCode() == kErrOpen) {
    if (system == EBUSY || system == EWOULDBLOCK) {
      return (status.state == PortState::kBusy
                  ? StateDetail(status)
                  : "busy: another program holds it; close that program or wait for it");
    }
    if (status.state != PortState::kFree) return StateDetail(status);
    if (system == EACCES || system == EPERM)
      return "permission denied; add the user to the device's group";
    if (system == ENOTTY) return "not a terminal; name a serial device";
    if (system == ENOENT || DeviceVanished(system))
      return "no such device; plug in the adapter or check the port name";
  } else if (DeviceVanished(system)) {
    return "the device went away (cable pulled or adapter removed); plug it in and run "
           "the command again";
  }
  const std::string cause = system > 0 ? ": " + Lowercase(std::strerror(system)) : "";
  return Operation(error.ErrorCode()) + cause;
}

CliFailure PortFailure(const EComPort& error, const std::string& portName) {
  const std::string device = DeviceForPort(portName).value_or("");
  return CliFailure(ExitStatus::kPortError,
                    PortLabel(portName, device) + ": " + PortErrorText(error, portName));
}

}  // namespace tarvo_cli
