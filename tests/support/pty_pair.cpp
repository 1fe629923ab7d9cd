#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace tarvo::test {

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("cannot make a pseudo-terminal");
  }
  terminalPath_ = ptsname(master_);
  keepSlave_ = open(terminalPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keepSlave_ < 0) throw std::runtime_error("cannot open the terminal end");
  termios raw{};
  tcgetattr(keepSlave_, &raw);
  cfmakeraw(&raw);
  tcsetattr(keepSlave_, TCSANOW, &raw);
}

PtyPair::~PtyPair() {
  if (keepSlave_ >= 0) close(keepSlave_);
  if (master_ >= 0) close(master_);
}

void PtyPair::Write(const std::string& bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      throw std::runtime_error("write to the pseudo-terminal failed");
    } else {
      pollfd p{master_, POLLOUT, 0};
      poll(&p, 1, 100);
    }
  }
}

std::string PtyPair::ReadAvailable() const {
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::string PtyPair::ReadAtLeast(size_t count, int boundMs) const {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) > 0) out += ReadAvailable();
  }
  return out;
}

void PtyPair::CloseMaster() {
  if (keepSlave_ >= 0) close(keepSlave_);
  keepSlave_ = -1;
  if (master_ >= 0) close(master_);
  master_ = -1;
}

}  // namespace tarvo::test
