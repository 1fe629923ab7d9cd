#pragma once
// Rates that termios has no constant for (14400, 56000, 128000, 256000 and
// custom ones) go through termios2 with BOTHER.

#include <cstdint>

// Sets both directions of the open terminal fd to bitsPerSecond. Returns 0 or
// the errno of the failing call.
int SetOtherSpeed(int fd, int32_t bitsPerSecond);
