#pragma once
// A port error in words: "COM3 (/dev/ttyUSB0): <cause>; <fix>", never a bare
// error number.

#include <string>

#include "station/failure.h"
#include "serial/CPort.h"

namespace station {

// The cause and fix (without the port) of an error met on the named port. A failed open is
// told from the device node (busy and by whom, no access and the group, not
// a terminal, no device); a vanished device as unplugged.
std::string PortErrorText(const EComPort& error, const std::string& portName);

// The failure (port error status) that ends the program with that line.
CliFailure PortFailure(const EComPort& error, const std::string& portName);

}  // namespace station
