#include "serial/port/line_users.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace {

constexpr unsigned kPtyMasterMajor = 5;  // /dev/ptmx
constexpr unsigned kPtyMasterMinor = 2;
constexpr unsigned kFirstPtySlaveMajor = 136;  // /dev/pts/N: majors 136..143
constexpr unsigned kLastPtySlaveMajor = 143;

bool IsNumber(const char* name) {
  return *name != '\0' && std::all_of(name, name + std::char_traits<char>::length(name),
                                      [](char c) { return c >= '0' && c <= '9'; });
}

// The pseudo-terminal number a master descriptor leads to ("tty-index").
long PtyIndexOf(const std::string& fdPath) {
  std::ifstream info(std::string(fdPath).replace(fdPath.rfind("/fd/"), 4, "/fdinfo/"));
  for (std::string key; info >> key;) {
    long index = -1;
    if (key == "tty-index:" && info >> index) return index;
  }
  return -1;
}

// The descriptors of one process on the device (but `skipFd`), and whether
// it holds the master of the pseudo-terminal `ptyIndex` (-1: the device is
// none).
void Scan(const std::string& pid, dev_t device, long ptyIndex, const std::string& skipFd,
          bool& uses, bool& isFarEnd) {
  const std::string folder = "/proc/" + pid + "/fd";
  DIR* fds = opendir(folder.c_str());
  if (fds == nullptr) return;
  while (const dirent* entry = readdir(fds)) {
    if (!IsNumber(entry->d_name) || skipFd == entry->d_name) continue;
    const std::string path = folder + "/" + entry->d_name;
    struct stat node {};
    if (stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) continue;
    if (node.st_rdev == device) uses = true;
    if (ptyIndex >= 0 && major(node.st_rdev) == kPtyMasterMajor &&
        minor(node.st_rdev) == kPtyMasterMinor && PtyIndexOf(path) == ptyIndex)
      isFarEnd = true;
  }
  closedir(fds);
}

}  // namespace

std::vector<pid_t> LineUsers(dev_t device, int ownFd) {
  const unsigned deviceMajor = major(device);
  const long ptyIndex = deviceMajor >= kFirstPtySlaveMajor && deviceMajor <= kLastPtySlaveMajor
                            ? static_cast<long>((deviceMajor - kFirstPtySlaveMajor) << 8) +
                                  static_cast<long>(minor(device))
                            : -1;
  std::vector<pid_t> users;
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return users;
  const std::string self = std::to_string(getpid());
  while (const dirent* entry = readdir(processes)) {
    if (!IsNumber(entry->d_name)) continue;
    const bool own = self == entry->d_name;
    bool uses = false;
    bool isFarEnd = false;
    Scan(entry->d_name, device, own ? -1 : ptyIndex, own ? std::to_string(ownFd) : "", uses,
         isFarEnd);
    if (uses && !isFarEnd) users.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
  }
  closedir(processes);
  return users;
}
