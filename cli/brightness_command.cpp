// brightness: automatic, or a level 0..9; the sign's echo is checked as the
// window checks it, and the command is journalled.
#include "station/text.h"
#include "cli/commands.h"
#include "station/find_sign.h"
#include "cli/journal_record.h"
#include "station/port_error.h"
#include "station/sign_line.h"
#include "protocol/brightness.h"
#include "serial/port/port_names.h"
#include "station/panel_json.h"
#include "station/port_state.h"
#include "station/quoted.h"

namespace tarvo_cli {

namespace {

// "auto" or one digit; anything else is bad input.
void CheckLevel(const std::string& level) {
  if (level == "auto" || (level.size() == 1 && level[0] >= '0' && level[0] <= '9')) return;
  throw station::CliFailure(station::ExitStatus::kBadUsage,
                   station::Format("bad brightness %s: give auto or a level 0..9",
                                   {station::Quoted(level)}));
}

}  // namespace

station::ExitStatus RunBrightness(const Options& options, Console& console) {
  CheckLevel(options.level);
  CommandJournal journal(options, "brightness");
  station::Tracer tracer(console.err);
  station::Tracer* trace = options.trace ? &tracer : nullptr;
  const std::string name = station::ChosenPort(options.port, options.timeoutMs, trace);
  journal.SetPort(name);
  const std::string device = DeviceForPort(name).value_or("");
  const bool automatic = options.level == "auto";
  const std::string command = automatic ? "LA" : "LM" + options.level;
  const std::chrono::milliseconds wait(options.timeoutMs);
  nlohmann::json& record = journal.Outcome();
  record["level"] = automatic ? nlohmann::json("auto") : nlohmann::json(options.level[0] - '0');

  std::string echo;
  std::optional<station::CliFailure> portFailure;
  try {
    station::SignLine line(name, options.timeoutMs, trace);
    journal.RecordIntent({{"level", record["level"]}});
    try {
      // The window's own words stay the window's; ours are said below.
      if (automatic) {
        SetAutomaticBrightness(line.Port(), echo, wait, sign_exchange::AnswerWait::ForBytes);
      } else {
        SetManualBrightness(line.Port(), options.level, echo, wait,
                            sign_exchange::AnswerWait::ForBytes);
      }
    } catch (const EComPort& error) {
      portFailure = station::PortFailure(error, name);
    }
  } catch (const EComPort& error) {
    throw station::PortFailure(error, name);  // never opened: nothing to record
  }
  // The command succeeded when the sign echoed every byte of it.
  const bool confirmed = !portFailure && echo == command;
  const station::ExitStatus status = portFailure ? station::ExitStatus::kPortError
                            : confirmed ? station::ExitStatus::kDone
                                        : station::ExitStatus::kNotConfirmed;
  record["verified"] = confirmed;
  const std::string unconfirmed =
      station::PortLabel(name, device) + ": " +
      station::Format("the sign did not echo %s; check the sign's cable and power", {command});

  if (options.json) {
    nlohmann::json document = {{"port", name},
                               {"device", device},
                               {"level", record["level"]},
                               {"echo", echo},
                               {"verified", confirmed}};
    if (portFailure) document["error"] = station::ErrorJson(status, portFailure->what(), name);
    if (status == station::ExitStatus::kNotConfirmed) document["error"] = station::ErrorJson(status, unconfirmed, name);
    console.out << station::Dump(document) << '\n';
  } else if (!portFailure) {
    console.out << station::PortLabel(name, device) << ": "
                << (automatic ? station::Tr("automatic brightness set")
                              : station::Format("manual brightness set: %s", {options.level}))
                << '\n';
  }
  if (portFailure) console.err << "tarvo-cli: " << portFailure->what() << '\n';
  if (status == station::ExitStatus::kNotConfirmed) console.err << "tarvo-cli: " << unconfirmed << '\n';
  return journal.RecordOutcome(status, console.err);
}

}  // namespace tarvo_cli
