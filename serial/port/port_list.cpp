#include "serial/port/port_list.h"

#include <dirent.h>
#include <linux/serial.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>

#include "serial/CPort.h"
#include "serial/port/ascii_case.h"
#include "serial/port/port_names.h"
#include "serial/port/terminal_node.h"

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

// USB and ACM nodes exist only with their device. A ttyS node exists for
// every possible UART, and sysfs tells which have one behind them. Nothing
// is opened: on a real UART an open pulses DTR and RTS.
bool IsSerialPort(const std::string& device) {
  struct stat info {};
  if (CheckTerminalNode(device, info) != 0) return false;
  const std::string name = device.substr(device.rfind('/') + 1);
  if (!name.starts_with("ttyS")) return true;
  const std::string tty = "/sys/class/tty/" + name;
  if (access((tty + "/device").c_str(), F_OK) != 0) return false;
  for (const std::string& typeFile : {tty + "/type", tty + "/device/type"}) {
    int type = PORT_UNKNOWN;
    if (std::ifstream(typeFile) >> type) return type != PORT_UNKNOWN;
  }
  return false;
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
