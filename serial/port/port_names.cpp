#include "serial/port/port_names.h"

#include <cstdlib>
#include <filesystem>

namespace {

constexpr int kTableSpan = 32;     // ttyS, ttyUSB and ttyACM each take 32 numbers
constexpr size_t kMostDigits = 9;  // keeps the number inside int

bool IsDevicePath(const std::string& port) {
  if (port.rfind("/dev/", 0) != 0) return false;
  // The name must stay under /dev/ as written: no "." or ".." parts that
  // could lead elsewhere, no empty parts.
  const std::filesystem::path path(port);
  return path.lexically_normal().string() == port && port.back() != '/';
}

}  // namespace

std::optional<std::string> PortFolder() {
  const char* folder = std::getenv("TARVO_COM_DIR");
  if (folder == nullptr || *folder == '\0') return std::nullopt;
  return std::string(folder);
}

std::optional<int> ComNumber(const std::string& port) {
  // Windows takes "com3" for COM3, so the prefix ignores letter case; the
  // number is plain decimal without a leading zero, so each port has one name.
  if (port.size() < 4 || port.size() > 3 + kMostDigits) return std::nullopt;
  for (size_t i = 0; i < 3; ++i) {
    if ((port[i] & ~0x20) != "COM"[i]) return std::nullopt;
  }
  if (port[3] == '0') return std::nullopt;
  int number = 0;
  for (size_t i = 3; i < port.size(); ++i) {
    if (port[i] < '0' || port[i] > '9') return std::nullopt;
    number = number * 10 + (port[i] - '0');
  }
  return number;
}

std::optional<std::string> TableDevice(int number) {
  static const char* const kFamilies[] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM"};
  if (number < 1 || number > kTableSpan * 3) return std::nullopt;
  const int index = number - 1;
  return kFamilies[index / kTableSpan] + std::to_string(index % kTableSpan);
}

std::optional<std::string> DeviceForPort(const std::string& port) {
  if (IsDevicePath(port)) return port;
  const std::optional<int> number = ComNumber(port);
  if (!number) return std::nullopt;
  if (const std::optional<std::string> folder = PortFolder()) {
    return *folder + "/COM" + std::to_string(*number);
  }
  return TableDevice(*number);
}
