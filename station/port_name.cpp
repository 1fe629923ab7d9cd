#include "station/port_name.h"

#include <algorithm>

#include "serial/port/port_names.h"

namespace station {

bool IsPortName(const std::string& port) {
  const bool controlCharacter =
      std::any_of(port.begin(), port.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  const bool comName = ComNumber(port).has_value() && port.rfind("COM", 0) == 0;
  const bool devicePath = port.rfind("/dev/", 0) == 0 && port.size() > 5 && port.back() != '/' &&
                          DeviceForPort(port) == port;
  return (comName || devicePath) && !controlCharacter;
}

}  // namespace station
