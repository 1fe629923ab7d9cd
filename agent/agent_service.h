#pragma once
// tarvo-agent as a service: the command line, the configuration, the state,
// one sd-event loop with the signals, the watchdog, the core and the control
// socket, and what the service manager is told (READY=1 once the state is
// loaded, STATUS=, STOPPING=1).

namespace agent {

// The exit status: 0 after SIGTERM or SIGINT, 1 when the start failed (one
// line on stderr names why), 2 for bad usage.
int RunAgent(int argc, char** argv);

}  // namespace agent
