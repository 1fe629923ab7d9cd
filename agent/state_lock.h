#pragma once
// One agent per state folder: an exclusive lock on a file in it, taken before
// the agent touches anything else and held until the process ends (the
// kernel lets go of it when the process dies, kill -9 too).

#include <string>

namespace agent {

class StateLock {
 public:
  // Takes the lock, or throws std::runtime_error saying which process holds it.
  explicit StateLock(const std::string& folder);
  ~StateLock();
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace agent
