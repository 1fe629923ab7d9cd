#include <exception>

#include "cli/commands.h"
#include "station/input_error.h"

namespace tarvo_cli {

namespace {

ExitStatus Run(const Options& options, Console& console) {
  const bool signVerb = options.command == Command::kRead || options.command == Command::kWrite ||
                        options.command == Command::kBrightness;
  // A running agent keeps the sign: never go to the port behind its back.
  if (signVerb) {
    if (const std::optional<ExitStatus> status = RunThroughAgent(options, console)) return *status;
  }
  switch (options.command) {
    case Command::kPorts:
      return RunPorts(options, console);
    case Command::kFind:
      return RunFind(options, console);
    case Command::kRead:
      return RunRead(options, console);
    case Command::kWrite:
      return RunWrite(options, console);
    case Command::kBrightness:
      return RunBrightness(options, console);
    case Command::kJournal:
      return RunJournal(options, console);
    case Command::kStatus:
      return RunStatus(options, console);
    case Command::kSchedule:
      return RunSchedule(options, console);
    case Command::kHistory:
      return RunHistory(options, console);
  }
  return ExitStatus::kBadUsage;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Console console{out, err};
  try {
    const std::optional<Options> options = ParseCommandLine(argc, argv, out);
    return options ? static_cast<int>(Run(*options, console)) : 0;
  } catch (const CliFailure& failure) {
    err << "tarvo-cli: " << failure.what() << '\n';
    return static_cast<int>(failure.Status());
  } catch (const station::InputError& error) {
    err << "tarvo-cli: " << error.what() << '\n';
    return static_cast<int>(ExitStatus::kBadUsage);
  } catch (const std::exception& error) {
    // Anything else is the machine's, not the sign's: a file or memory.
    err << "tarvo-cli: " << error.what() << '\n';
    return static_cast<int>(ExitStatus::kPortError);
  }
}

}  // namespace tarvo_cli
