#pragma once
// How a port name such as "COM3" meets Linux: with TARVO_COM_DIR set, COMn is
// the entry of that folder; otherwise a fixed table of ttyS, ttyUSB and ttyACM
// devices; an absolute path under /dev/ names that device directly.

#include <optional>
#include <string>

// The device file a Port value names, or nothing when it has no device.
std::optional<std::string> DeviceForPort(const std::string& port);

// The port folder named by TARVO_COM_DIR, or nothing when it is not set.
std::optional<std::string> PortFolder();

// The number n of a name "COM" + decimal n (n >= 1), or nothing.
std::optional<int> ComNumber(const std::string& port);

// The device of COMn in the fixed table (1..96), or nothing.
std::optional<std::string> TableDevice(int number);
