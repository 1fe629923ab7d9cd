#pragma once
// The agent's log: one line on stderr with the journal's priority prefix
// ("<3>" error .. "<7>" debug), which journald reads; no log files.

#include <string>
#include <syslog.h>

namespace agent {

void Log(int priority, const std::string& message);

}  // namespace agent
