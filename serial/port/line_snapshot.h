#pragma once
// The line settings a terminal had when the port opened it, kept as termios2
// carries them: a rate set with BOTHER, which termios has no constant for
// (250000 by another program, say), comes back exactly at close.

#include <memory>

class LineSnapshot {
 public:
  LineSnapshot();
  ~LineSnapshot();
  LineSnapshot(const LineSnapshot&) = delete;
  LineSnapshot& operator=(const LineSnapshot&) = delete;

  // Reads the settings of the open terminal fd; returns 0 or the errno of the
  // failing call.
  int Take(int fd);
  // Gives the settings taken back to fd. A line that refuses them (it went
  // away) is closed all the same, so a failure is not reported.
  void Restore(int fd) const;

 private:
  struct Settings;
  std::unique_ptr<Settings> settings_;
};
