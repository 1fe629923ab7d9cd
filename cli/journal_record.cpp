#include "station/text.h"
#include "cli/journal_record.h"

#include <pwd.h>
#include <unistd.h>

#include "station/failure.h"
#include "station/utc_time.h"
#include "serial/port/port_names.h"
#include "station/panel_json.h"
#include "station/quoted.h"

namespace tarvo_cli {

namespace {

std::string UserName() {
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : std::to_string(geteuid());
}

std::string HostName() {
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

}  // namespace

std::string JournalPathOf(const Options& options) {
  return options.journalFile.value_or(DefaultJournalPath());
}

CommandJournal::CommandJournal(const Options& options, const std::string& command) {
  const std::string time = station::UtcTimeStamp();
  const std::string host = HostName();
  record_ = {{"time", time},
             {"user", UserName()},
             {"host", host},
             {"port", nullptr},
             {"device", nullptr},
             {"command", command},
             // The intent and the outcome of one run share it.
             {"id", host + "/" + std::to_string(getpid()) + "/" + time}};
  if (!options.noJournal) file_.emplace(JournalPathOf(options));
}

void CommandJournal::SetPort(const std::string& port) {
  record_["port"] = port;
  record_["device"] = DeviceForPort(port).value_or("");
}

void CommandJournal::RecordIntent(const nlohmann::json& what) {
  if (!file_) return;
  nlohmann::json intent = record_;
  intent["stage"] = "intent";
  intent.update(what);
  const std::string failure = file_->Append(station::Dump(intent));
  if (!failure.empty())
    throw station::CliFailure(station::ExitStatus::kPortError,
                     station::Format("journal %s: %s; the sign was not changed",
                                     {station::Quoted(file_->Path()), failure}));
}

station::ExitStatus CommandJournal::RecordOutcome(station::ExitStatus status, std::ostream& err) {
  if (!file_) return status;
  record_["time"] = station::UtcTimeStamp();
  record_["stage"] = "outcome";
  record_["exit"] = static_cast<int>(status);
  const std::string failure = file_->Append(station::Dump(record_));
  if (failure.empty()) return status;
  err << "tarvo-cli: "
      << station::Format("journal %s: %s; the record of this %s was not written (exit %s is what "
                         "the sign did)",
                         {station::Quoted(file_->Path()), failure,
                          record_["command"].get<std::string>(),
                          std::to_string(static_cast<int>(status))})
      << '\n';
  return status == station::ExitStatus::kDone ? station::ExitStatus::kNotRecorded : status;
}

}  // namespace tarvo_cli
