#include "serial/port/port_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

namespace {

// "64" or "0-1048575".
bool InRange(const std::string& range, unsigned value) {
  unsigned first = 0;
  unsigned last = 0;
  char dash = 0;
  std::istringstream in(range);
  if (!(in >> first)) return false;
  last = (in >> dash >> last && dash == '-') ? last : first;
  return value >= first && value <= last;
}

}  // namespace

bool IsTerminalDevice(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  // Each line: driver name, node prefix, major, minors, type.
  std::ifstream drivers("/proc/tty/drivers");
  std::string line;
  while (std::getline(drivers, line)) {
    std::istringstream fields(line);
    std::string name;
    std::string node;
    unsigned driverMajor = 0;
    std::string minors;
    if (!(fields >> name >> node >> driverMajor >> minors)) continue;
    if (driverMajor == major(info.st_rdev) && InRange(minors, minor(info.st_rdev))) return true;
  }
  return false;
}
