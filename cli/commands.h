#pragma once
// The verbs. Each prints its result on `out` (human lines or one JSON
// document) and returns the exit status; failures leave as CliFailure.

#include <optional>
#include <ostream>

#include "station/failure.h"
#include "cli/options.h"

namespace tarvo_cli {

struct Console {
  std::ostream& out;
  std::ostream& err;
};

station::ExitStatus RunPorts(const Options& options, Console& console);
station::ExitStatus RunFind(const Options& options, Console& console);
station::ExitStatus RunRead(const Options& options, Console& console);
station::ExitStatus RunWrite(const Options& options, Console& console);
station::ExitStatus RunBrightness(const Options& options, Console& console);
station::ExitStatus RunJournal(const Options& options, Console& console);
station::ExitStatus RunStatus(const Options& options, Console& console);
station::ExitStatus RunSchedule(const Options& options, Console& console);
station::ExitStatus RunHistory(const Options& options, Console& console);

// read, write and brightness through a running tarvo-agent; nothing when
// --direct is given or no agent answers (the verb then talks to the port).
std::optional<station::ExitStatus> RunThroughAgent(const Options& options, Console& console);
// After a --direct write or brightness change while an agent runs: says on
// stderr that the agent puts its own revision back (or records the drift),
// so the operator knows the change will not last. Returns `status`.
station::ExitStatus NoteTheAgentAfterDirect(const Options& options, station::ExitStatus status, Console& console);

// Parses the line and runs its verb; every failure is one line on `err`.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace tarvo_cli
