#pragma once
// Which names a user may give for a port: COMn as the port list names it (no
// leading zero, so each port has one name) or a device path under /dev/
// without "." or ".." parts.

#include <string>

namespace station {

bool IsPortName(const std::string& port);

}  // namespace station
