// brightness: automatic, or a level 0..9; the sign's echo is checked as the
// window checks it, and the command is journalled.
#include "cli/commands.h"
#include "cli/find_sign.h"
#include "cli/journal_record.h"
#include "station/panel_json.h"
#include "cli/port_error.h"
#include "station/port_state.h"
#include "cli/sign_line.h"
#include "protocol/brightness.h"
#include "serial/port/port_names.h"

namespace tarvo_cli {

namespace {

// "auto" or one digit; anything else is bad input.
void CheckLevel(const std::string& level) {
  if (level == "auto" || (level.size() == 1 && level[0] >= '0' && level[0] <= '9')) return;
  throw CliFailure(ExitStatus::kBadUsage,
                   "bad brightness \"" + level + "\": give auto or a level 0..9");
}

}  // namespace

ExitStatus RunBrightness(const Options& options, Console& console) {
  CheckLevel(options.level);
  Tracer tracer(console.err);
  Tracer* trace = options.trace ? &tracer : nullptr;
  const std::string name = ChosenPort(options, trace);
  const std::string device = DeviceForPort(name).value_or("");
  const bool automatic = options.level == "auto";
  const std::string command = automatic ? "LA" : "LM" + options.level;
  const std::chrono::milliseconds wait(options.timeoutMs);
  nlohmann::json record = JournalRecord("brightness", name);
  record["level"] = automatic ? nlohmann::json("auto") : nlohmann::json(options.level[0] - '0');

  std::string message;
  std::string echo;
  std::optional<CliFailure> portFailure;
  try {
    SignLine line(name, options, trace);
    try {
      message = automatic ? SetAutomaticBrightness(line.Port(), echo, wait,
                                                   sign_exchange::AnswerWait::ForBytes)
                          : SetManualBrightness(line.Port(), options.level, echo, wait,
                                                sign_exchange::AnswerWait::ForBytes);
    } catch (const EComPort& error) {
      portFailure = PortFailure(error, name);
    }
  } catch (const EComPort& error) {
    throw PortFailure(error, name);  // never opened: nothing to record
  }
  // The command succeeded when the sign echoed every byte of it.
  const bool confirmed = !portFailure && echo == command;
  const ExitStatus status = portFailure ? ExitStatus::kPortError
                            : confirmed ? ExitStatus::kDone
                                        : ExitStatus::kNotConfirmed;
  record["verified"] = confirmed;
  record["exit"] = static_cast<int>(status);

  if (options.json) {
    console.out << station::Dump({{"port", name},
                         {"device", device},
                         {"level", record["level"]},
                         {"echo", echo},
                         {"verified", confirmed}})
                << '\n';
  } else if (!portFailure) {
    console.out << station::PortLabel(name, device) << ": " << message << '\n';
  }
  if (portFailure) console.err << "tarvo-cli: " << portFailure->what() << '\n';
  Record(options, record);
  if (status == ExitStatus::kNotConfirmed)
    console.err << "tarvo-cli: " << station::PortLabel(name, device) << ": the sign did not echo " << command
                << "; check the sign's cable and power\n";
  return status;
}

}  // namespace tarvo_cli
