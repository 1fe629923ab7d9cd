#pragma once
// tarvo-office's program: `tarvo-office [--config FILE]` runs the service;
// `tarvo-office passwd USER [--role viewer|pricing]` sets a web user's
// password (read from the terminal, or the first line of stdin).

namespace office {

int RunOffice(int argc, char** argv);

}  // namespace office
