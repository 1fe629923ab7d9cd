#include "serial/port/port_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "serial/CPort.h"
#include "serial/port/ascii_case.h"
#include "serial/port/port_names.h"

namespace {

std::vector<std::string> PortsInFolder(const std::string& folder) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) throw EComPort(kErrRegistry, errno);
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) throw EComPort(kErrRegistry, errno);
      return names;
    }
    // Only the exact spelling COMn: that is the entry a port name resolves to.
    const std::optional<int> number = ComNumber(entry->d_name);
    if (number && entry->d_name == "COM" + std::to_string(*number))
      names.emplace_back(entry->d_name);
  }
}

// A ttyS node exists for every possible UART; only one with a UART behind it
// reports a known port type. USB and ACM nodes exist only with their device.
bool IsSerialPort(const std::string& device) {
  struct stat info {};
  if (stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  if (device.find("/ttyS") == std::string::npos) return true;
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY;  // held by another program: it is there
  serial_struct serial{};
  const bool known = ioctl(fd, TIOCGSERIAL, &serial) == 0 && serial.type != PORT_UNKNOWN;
  close(fd);
  return known;
}

std::vector<std::string> PortsInTable() {
  std::vector<std::string> names;
  for (int number = 1;; ++number) {
    const std::optional<std::string> device = TableDevice(number);
    if (!device) return names;
    if (IsSerialPort(*device)) names.push_back("COM" + std::to_string(number));
  }
}

}  // namespace

void ListSerialPorts(std::vector<std::string>& list) {
  const std::optional<std::string> folder = PortFolder();
  std::vector<std::string> names = folder ? PortsInFolder(*folder) : PortsInTable();
  std::sort(names.begin(), names.end(), LessIgnoringCase);
  list = std::move(names);
}
