#include "station/port_state.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <vector>
#include <sstream>

#include "serial/port/line_users.h"
#include "station/text.h"
#include "serial/port/port_names.h"
#include "serial/port/terminal_node.h"

namespace station {

namespace {

std::string ProcessName(const std::string& pid) {
  std::ifstream comm("/proc/" + pid + "/comm");
  std::string name;
  std::getline(comm, name);
  return Format("%s (pid %s)", {name.empty() ? Tr("a process") : name, pid});
}

// The port takes a lock on the device node, as every well-behaved opener
// does; the kernel's lock table names the process holding it. Each line:
// "1: FLOCK ADVISORY WRITE <pid> <major>:<minor>:<inode> 0 EOF" (waiters
// carry "->" and are skipped).
std::string LockHolder(const struct stat& node) {
  std::ostringstream wanted;
  wanted << std::hex << major(node.st_dev) << ':' << minor(node.st_dev) << ':' << std::dec
         << node.st_ino;
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, pid, where;
    if (!(fields >> number >> kind >> mode >> access >> pid >> where) || kind == "->") continue;
    // The kernel writes major and minor with at least two hex digits.
    unsigned devMajor = 0, devMinor = 0;
    unsigned long inode = 0;
    char colon1 = 0, colon2 = 0;
    std::istringstream parts(where);
    if (!(parts >> std::hex >> devMajor >> colon1 >> devMinor >> colon2 >> std::dec >> inode))
      continue;
    if (devMajor == major(node.st_dev) && devMinor == minor(node.st_dev) && inode == node.st_ino &&
        pid != std::to_string(getpid()))
      return ProcessName(pid);
  }
  return {};
}

// The lock's holder, else another process that has the line open (one that
// holds it with TIOCEXCL alone takes no lock).
std::string Holder(const struct stat& node) {
  std::string holder = LockHolder(node);
  if (!holder.empty()) return holder;
  const std::vector<pid_t> users = LineUsers(node.st_rdev);
  return users.empty() ? std::string() : ProcessName(std::to_string(users.front()));
}

std::string GroupName(gid_t gid) {
  const group* entry = getgrgid(gid);
  return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

}  // namespace

PortStatus InspectPort(const std::string& name) {
  PortStatus status;
  status.name = name;
  status.device = DeviceForPort(name).value_or("");
  struct stat node {};
  if (status.device.empty()) return status;
  const int refused = CheckTerminalNode(status.device, node);
  if (refused == ENOTTY) {
    status.state = PortState::kNotTerminal;
  } else if (refused != 0) {
    return status;  // no device
  } else if (access(status.device.c_str(), R_OK | W_OK) != 0) {
    status.state = PortState::kNoAccess;
    status.group = GroupName(node.st_gid);
    status.groupMayUse = (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  } else if (!(status.holder = Holder(node)).empty()) {
    status.state = PortState::kBusy;
  } else {
    status.state = PortState::kFree;
  }
  return status;
}

std::string StateText(PortState state) {
  switch (state) {
    case PortState::kFree:
      return "free";
    case PortState::kBusy:
      return "busy";
    case PortState::kNoAccess:
      return "no access";
    case PortState::kNotTerminal:
      return "not a terminal";
    case PortState::kNoDevice:
      return "no device";
  }
  return {};
}

std::string StateDetail(const PortStatus& status) {
  switch (status.state) {
    case PortState::kFree:
      return Tr("free");
    case PortState::kBusy:
      return Format("busy: held by %s; close that program or wait for it", {status.holder});
    case PortState::kNoAccess:
      return status.groupMayUse
                 ? Format("no access; add the user to group %s and log in again", {status.group})
                 : Tr("no access; the device is for its owner alone: give it group dialout "
                      "and mode 0660 (a udev rule) and add the user to that group");
    case PortState::kNotTerminal:
      return Tr("not a terminal; name a serial device");
    case PortState::kNoDevice:
      return Tr("no such device; plug in the adapter or check the port name");
  }
  return {};
}

std::string PortLabel(const std::string& name, const std::string& device) {
  return device.empty() || device == name ? name : name + " (" + device + ")";
}

}  // namespace station
