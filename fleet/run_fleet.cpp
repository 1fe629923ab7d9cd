#include <algorithm>
#include <exception>
#include <nlohmann/json.hpp>

#include "fleet/commands.h"
#include "station/input_error.h"
#include "station/panel_json.h"

namespace tarvo_fleet {

namespace {

ExitStatus Run(const Options& options, Console& console) {
  switch (options.command) {
    case Command::kStatus:
      return RunStatus(options, console);
    case Command::kPush:
    case Command::kCancel:
      return RunPush(options, console);
    case Command::kEvents:
      return RunEvents(options, console);
    case Command::kForget:
      return RunForget(options, console);
  }
  return ExitStatus::kBadInput;
}

int Fail(ExitStatus status, const std::string& message, bool json, Console& console) {
  console.err << "tarvo-fleet: " << message << '\n';
  if (json)
    console.out << station::Dump({{"error", message}, {"exit", static_cast<int>(status)}}) << '\n';
  return static_cast<int>(status);
}

}  // namespace

int RunFleet(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Console console{out, err};
  // --json is known before the parser has run, so a refused line gets its document too.
  const bool json =
      std::any_of(argv + 1, argv + argc, [](const char* a) { return std::string(a) == "--json"; });
  try {
    const std::optional<Options> options = ParseCommandLine(argc, argv, out);
    return options ? static_cast<int>(Run(*options, console)) : 0;
  } catch (const FleetFailure& failure) {
    return Fail(failure.Status(), failure.what(), json, console);
  } catch (const station::InputError& error) {
    return Fail(ExitStatus::kBadInput, error.what(), json, console);
  } catch (const std::exception& error) {
    return Fail(ExitStatus::kBroker, error.what(), json, console);
  }
}

}  // namespace tarvo_fleet
