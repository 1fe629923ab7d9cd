#pragma once
// Whether a node is a terminal, decided from the node alone: opening some
// devices has effects of its own (a watchdog is armed by its open), so
// nothing is opened to find out.

#include <sys/stat.h>

#include <string>

// Looks at the node a path names, following links. 0 when it is a terminal:
// a character device of the sysfs class tty, or a pseudo-terminal slave,
// which sysfs does not list, known by its device number. Otherwise the errno
// that refuses it: that of stat, or ENOTTY. info receives the node's details.
int CheckTerminalNode(const std::string& path, struct stat& info);
