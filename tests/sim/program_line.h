#pragma once
// The program's end of a simulated sign's line, opened the way the program
// opens a port (read/write, no controlling terminal, raw) but non-blocking,
// so that every wait has a bound.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvo::test {

class ProgramLine {
 public:
  explicit ProgramLine(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
      throw std::runtime_error("cannot open " + path + ": errno " + std::to_string(errno));
    termios raw{};
    tcgetattr(fd_, &raw);
    cfmakeraw(&raw);
    cfsetspeed(&raw, B19200);
    tcsetattr(fd_, TCSANOW, &raw);
  }
  ~ProgramLine() { Close(); }
  ProgramLine(const ProgramLine&) = delete;
  ProgramLine& operator=(const ProgramLine&) = delete;

  int Fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  void Send(std::string_view bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        throw std::runtime_error("write failed: errno " + std::to_string(errno));
      } else {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 100);
      }
    }
  }

  // Both queues discarded, as the program does before each exchange.
  void Purge() const { tcflush(fd_, TCIOFLUSH); }

  // What is there now, without waiting.
  std::string ReadAvailable() const {
    std::string out;
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }

  // Exactly `count` bytes, or what came before the bound ran out.
  std::string ReadExactly(size_t count,
                          std::chrono::milliseconds bound = std::chrono::seconds(5)) const {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      if (p.revents & (POLLHUP | POLLERR)) break;
      char buffer[256];
      const size_t want = std::min(sizeof buffer, count - out.size());
      const ssize_t n = read(fd_, buffer, want);
      if (n > 0) out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }

  // True once the line reports a hang-up (the device end went away).
  bool HungUp(std::chrono::milliseconds bound = std::chrono::seconds(5)) const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(bound.count())) > 0 &&
           (p.revents & (POLLHUP | POLLERR)) != 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace tarvo::test
