#pragma once
// Why a port can or cannot be used, told from its device node, the kernel's
// lock table and the device's group, without opening it.

#include <string>

namespace station {

enum class PortState { kFree, kBusy, kNoAccess, kNotTerminal, kNoDevice };

struct PortStatus {
  std::string name;    // COM3, or the /dev/ path given
  std::string device;  // the device file it names ("" when it names none)
  PortState state = PortState::kNoDevice;
  std::string holder;        // busy: "minicom (pid 1234)"
  std::string group;         // no access: the device's group
  bool groupMayUse = false;  // no access: the group has read and write access
};

PortStatus InspectPort(const std::string& name);

// "free", "busy", "no access", "not a terminal", "no device".
std::string StateText(PortState state);
// The state with its detail and fix: "busy: held by minicom (pid 1234)",
// "no access; add the user to group dialout".
std::string StateDetail(const PortStatus& status);
// "COM3 (/dev/ttyUSB0)", or the name alone when it names no device.
std::string PortLabel(const std::string& name, const std::string& device);

}  // namespace station
