#include "agent/state_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace agent {

StateLock::StateLock(const std::string& folder) {
  const std::string path = folder + "/agent.lock";
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
  if (fd_ < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    char holder[32] = {};
    (void)!pread(fd_, holder, sizeof holder - 1, 0);
    close(fd_);
    fd_ = -1;
    if (error != EWOULDBLOCK) throw std::runtime_error("cannot lock " + path + ": " + std::strerror(error));
    const std::string pid = std::string(holder).substr(0, std::string(holder).find('\n'));
    throw std::runtime_error("another tarvo-agent" + (pid.empty() ? std::string() : " (pid " + pid + ")") +
                             " keeps the station in " + folder + "; one agent per state folder");
  }
  const std::string pid = std::to_string(getpid()) + "\n";
  // Only a note for the one that finds the lock taken; the lock holds without it.
  (void)!ftruncate(fd_, 0);
  (void)!pwrite(fd_, pid.data(), pid.size(), 0);
}

StateLock::~StateLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace agent
