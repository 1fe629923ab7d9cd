#pragma once

#include <string>

namespace tarvo::test {

// A pseudo-terminal pair made by the test itself: the program opens the
// terminal end (TerminalPath), the test plays the device on the master end.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int MasterFd() const { return master_; }
  const std::string& TerminalPath() const { return terminalPath_; }

  // Device side: write bytes as the device, read what the program sent.
  void Write(const std::string& bytes) const;
  // Reads what is available now on the master end, without blocking.
  std::string ReadAvailable() const;
  // Reads until at least `count` bytes arrived or the bound ran out.
  std::string ReadAtLeast(size_t count, int boundMs = 5000) const;
  // Closes the device end: the terminal end sees a hang-up (unplug).
  void CloseMaster();
  // The test's own descriptor of the terminal end: it shares the line the
  // program opened, so the test can read its termios or stop its output.
  int TerminalFd() const { return keepSlave_; }

 private:
  int master_ = -1;
  int keepSlave_ = -1;  // keeps the terminal end alive between the program's opens
  std::string terminalPath_;
};

}  // namespace tarvo::test
