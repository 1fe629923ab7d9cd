#pragma once
// The journal records of one write or brightness command: who, where, when;
// first the intent (what is about to be sent), then the outcome (what the
// sign held, was asked and held after). An intent without an outcome is a
// command that was killed or lost its power on the way.

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

#include "station/failure.h"
#include "cli/journal.h"
#include "cli/options.h"

namespace tarvo_cli {

class CommandJournal {
 public:
  // Opens --journal FILE or the default journal, unless --no-journal, first
  // of all. Throws CliFailure (port error) when it cannot be written: nothing
  // was sent yet.
  CommandJournal(const Options& options, const std::string& command);
  // The port the command talks to, once it is known.
  void SetPort(const std::string& port);

  // {"time", "user", "host", "port", "device", "command", "id"}: the
  // outcome record, to which the command adds the rest.
  nlohmann::json& Outcome() { return record_; }

  // Appends the intent record: the fields above and "stage": "intent" with
  // `what`. Throws CliFailure (port error) when it cannot be written, before
  // anything is sent.
  void RecordIntent(const nlohmann::json& what);
  // Appends the outcome record (stamped anew) with the exit status. When it
  // cannot be written, says so on `err`: a done command then ends with
  // kNotRecorded, any other status is the sign's outcome and stays.
  station::ExitStatus RecordOutcome(station::ExitStatus status, std::ostream& err);
  // The journal's file ("" with --no-journal).
  std::string Path() const { return file_ ? file_->Path() : std::string(); }

 private:
  std::optional<JournalFile> file_;
  nlohmann::json record_;
};

// The journal file the options name.
std::string JournalPathOf(const Options& options);

}  // namespace tarvo_cli
