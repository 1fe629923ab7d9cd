#pragma once
// The verbs. Each prints its result on `out` (human lines or one JSON
// document) and returns the exit status; failures leave as FleetFailure.

#include <ostream>

#include "fleet_push/failure.h"
#include "fleet/options.h"

namespace tarvo_fleet {

struct Console {
  std::ostream& out;
  std::ostream& err;
};

ExitStatus RunStatus(const Options& options, Console& console);
ExitStatus RunPush(const Options& options, Console& console);
ExitStatus RunEvents(const Options& options, Console& console);
ExitStatus RunForget(const Options& options, Console& console);

// Parses the line and runs its verb; every failure is one line on `err`
// (and, with --json, a document on `out`).
int RunFleet(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace tarvo_fleet
