#include "serial/port/terminal_node.h"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string_view>

namespace {

// The assigned numbers of pseudo-terminal slaves, for a system without /proc.
constexpr unsigned kFirstPtsMajor = 136;
constexpr unsigned kLastPtsMajor = 143;

bool HasTtyClass(dev_t device) {
  const std::string link = "/sys/dev/char/" + std::to_string(major(device)) + ":" +
                           std::to_string(minor(device)) + "/subsystem";
  char target[256];
  const ssize_t length = readlink(link.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return false;
  const std::string_view path(target, static_cast<size_t>(length));
  return path == "tty" || path.ends_with("/tty");
}

bool IsPseudoTerminalSlave(dev_t device) {
  const unsigned wanted = major(device);
  std::ifstream devices("/proc/devices");
  if (!devices) return wanted >= kFirstPtsMajor && wanted <= kLastPtsMajor;
  // The character devices come first, one "major name" line each.
  std::string line;
  while (std::getline(devices, line) && line != "Block devices:") {
    std::istringstream fields(line);
    unsigned number = 0;
    std::string name;
    if (fields >> number >> name && number == wanted && name == "pts") return true;
  }
  return false;
}

}  // namespace

int CheckTerminalNode(const std::string& path, struct stat& info) {
  if (stat(path.c_str(), &info) != 0) return errno;
  if (!S_ISCHR(info.st_mode)) return ENOTTY;
  return HasTtyClass(info.st_rdev) || IsPseudoTerminalSlave(info.st_rdev) ? 0 : ENOTTY;
}
