// <asm/termbits.h> defines its own struct termios and clashes with
// <termios.h>, so termios2 stays in files of its own.
#include "serial/port/line_snapshot.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

struct LineSnapshot::Settings {
  termios2 line{};
};

LineSnapshot::LineSnapshot() : settings_(std::make_unique<Settings>()) {}

LineSnapshot::~LineSnapshot() = default;

int LineSnapshot::Take(int fd) { return ioctl(fd, TCGETS2, &settings_->line) == 0 ? 0 : errno; }

void LineSnapshot::Restore(int fd) const { ioctl(fd, TCSETS2, &settings_->line); }
