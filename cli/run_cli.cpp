#include <signal.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "cli/commands.h"
#include "cli/user_language.h"
#include "station/input_error.h"
#include "station/panel_json.h"
#include "station/quoted.h"
#include "station/text.h"

namespace tarvo_cli {

namespace {

station::ExitStatus Run(const Options& options, Console& console) {
  const bool signVerb = options.command == Command::kRead || options.command == Command::kWrite ||
                        options.command == Command::kBrightness;
  // A running agent keeps the sign: never go to the port behind its back.
  if (signVerb) {
    if (const std::optional<station::ExitStatus> status = RunThroughAgent(options, console)) return *status;
  }
  switch (options.command) {
    case Command::kPorts:
      return RunPorts(options, console);
    case Command::kFind:
      return RunFind(options, console);
    case Command::kRead:
      return RunRead(options, console);
    case Command::kWrite:
      return NoteTheAgentAfterDirect(options, RunWrite(options, console), console);
    case Command::kBrightness:
      return NoteTheAgentAfterDirect(options, RunBrightness(options, console), console);
    case Command::kJournal:
      return RunJournal(options, console);
    case Command::kStatus:
      return RunStatus(options, console);
    case Command::kSchedule:
      return RunSchedule(options, console);
    case Command::kHistory:
      return RunHistory(options, console);
  }
  return station::ExitStatus::kBadUsage;
}

// --json anywhere on the line, also on a line that does not parse.
bool AsksForJson(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) return true;
    if (std::strcmp(argv[i], "--") == 0) return false;
  }
  return false;
}

station::ExitStatus Failed(station::ExitStatus status, const std::string& message, const std::string& port,
                  bool json, Console& console) {
  if (json) console.out << station::Dump({{"error", station::ErrorJson(status, message, port)}}) << '\n';
  // Whatever the parser quoted of the line stays on this one.
  console.err << "tarvo-cli: " << station::OneLine(message) << '\n';
  return status;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  // A reader that went away is told by EPIPE, not by a death that would hide
  // a done write's status.
  signal(SIGPIPE, SIG_IGN);
  Console console{out, err};
  const bool json = AsksForJson(argc, argv);
  // A document for machines is the same under every locale, its stderr line too.
  if (!json) UseUserLanguage();
  station::ExitStatus status = station::ExitStatus::kDone;
  bool changesTheSign = false;
  try {
    const std::optional<Options> options = ParseCommandLine(argc, argv, out);
    changesTheSign = options && (options->command == Command::kWrite ||
                                 options->command == Command::kBrightness);
    if (options) status = Run(*options, console);
  } catch (const station::CliFailure& failure) {
    status = Failed(failure.Status(), failure.what(), failure.Port(), json, console);
  } catch (const station::InputError& error) {
    status = Failed(station::ExitStatus::kBadUsage, error.what(), "", json, console);
  } catch (const std::exception& error) {
    // Anything else is the machine's, not the sign's: a file or memory.
    status = Failed(station::ExitStatus::kPortError, error.what(), "", json, console);
  }
  errno = 0;
  out.flush();
  if (out.fail()) {
    const int error = errno != 0 ? errno : EIO;
    // A command that changed the sign ends with the sign's outcome (the
    // journal holds it); one that only told something failed.
    const bool keep = changesTheSign || status != station::ExitStatus::kDone;
    err << "tarvo-cli: "
        << (keep ? station::Format(
                       "cannot write the output: %s; the exit status is the command's own",
                       {std::strerror(error)})
                 : station::Format("cannot write the output: %s", {std::strerror(error)}))
        << '\n';
    if (!keep) status = station::ExitStatus::kNotRecorded;
  }
  return static_cast<int>(status);
}

}  // namespace tarvo_cli
