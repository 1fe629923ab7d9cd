#pragma once
// The device's side of a pseudo-terminal, and the symbolic link that
// publishes its terminal end as a port name.

#include <string>

namespace sign_sim {

// A pseudo-terminal held from the device end: a non-blocking master, and a
// descriptor of the terminal end that is never read but keeps the line alive
// while the program closes and reopens its port (so the master never sees a
// hang-up meanwhile). The terminal end starts raw.
class DevicePty {
 public:
  DevicePty() = default;
  ~DevicePty() { Close(); }
  DevicePty(DevicePty&& other) noexcept;
  DevicePty& operator=(DevicePty&& other) noexcept;
  DevicePty(const DevicePty&) = delete;
  DevicePty& operator=(const DevicePty&) = delete;

  // Throws std::system_error when the system has no pseudo-terminal to give.
  static DevicePty Open();

  bool IsOpen() const { return master_ >= 0; }
  int MasterFd() const { return master_; }
  const std::string& TerminalPath() const { return terminalPath_; }
  // Both ends; the terminal end goes away once the program has closed it too.
  void Close();

 private:
  int master_ = -1;
  int keepTerminal_ = -1;
  std::string terminalPath_;
};

// Makes `link` a symbolic link to `target`, atomically; an existing symbolic
// link is replaced, anything else of that name throws std::runtime_error.
void PublishLink(const std::string& link, const std::string& target);
// Removes `link` if it is still a symbolic link to `target`.
void RemoveLink(const std::string& link, const std::string& target);

}  // namespace sign_sim
