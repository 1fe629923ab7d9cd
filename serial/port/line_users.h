#pragma once
// Which other processes have a terminal device open: what tells a line in
// use from an exclusive flag left behind by a program that ended. The far
// end of a pseudo-terminal (the process holding its master, the "device")
// is not a user of the line.

#include <sys/types.h>

#include <vector>

// The processes with a descriptor on the character device `device` (an
// st_rdev), as far as /proc lets this process see: another user's
// descriptors are visible to root only. This process counts with its
// descriptors other than `ownFd`, also when it holds the far end.
std::vector<pid_t> LineUsers(dev_t device, int ownFd = -1);
