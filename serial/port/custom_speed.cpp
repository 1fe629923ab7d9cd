// <asm/termbits.h> defines its own struct termios and clashes with
// <termios.h>, so termios2 stays in files of its own.
#include "serial/port/custom_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

int SetOtherSpeed(int fd, int32_t bitsPerSecond) {
  if (bitsPerSecond <= 0) return EINVAL;
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = static_cast<speed_t>(bitsPerSecond);
  t.c_ospeed = static_cast<speed_t>(bitsPerSecond);
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}
