#pragma once
// A small tmpfs mounted over a folder (the test runs as root), which the test
// fills to the last byte and frees again: the agent's full disk.

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace tarvo::test {

class SmallDisk {
 public:
  explicit SmallDisk(std::string folder) : folder_(std::move(folder)) {
    mkdir(folder_.c_str(), 0750);
    if (mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=4m,mode=0750") != 0)
      throw std::runtime_error("cannot mount a tmpfs on " + folder_);
  }
  ~SmallDisk() { umount2(folder_.c_str(), MNT_DETACH); }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  // Until nothing more fits.
  void Fill() {
    const int fd = open(Filler().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, block.data(), 1) > 0) {
    }
    close(fd);
  }
  void Free() { unlink(Filler().c_str()); }
  bool Full() const { return access(Filler().c_str(), F_OK) == 0; }

 private:
  std::string Filler() const { return folder_ + "/filler"; }
  std::string folder_;
};

}  // namespace tarvo::test
