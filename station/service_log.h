#pragma once
// A service's log: one line on stderr with the journal's priority prefix
// ("<3>" error .. "<7>" debug), which journald reads; no log files.

#include <syslog.h>

#include <string>

namespace station {

void ServiceLog(int priority, const std::string& message);

}  // namespace station
