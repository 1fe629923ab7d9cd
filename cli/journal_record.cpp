#include "cli/journal_record.h"

#include <pwd.h>
#include <unistd.h>

#include "cli/journal.h"
#include "station/panel_json.h"
#include "cli/utc_time.h"
#include "serial/port/port_names.h"

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

nlohmann::json JournalRecord(const std::string& command, const std::string& portName) {
  return {{"time", UtcTimeStamp()},
          {"user", UserName()},
          {"host", HostName()},
          {"port", portName},
          {"device", DeviceForPort(portName).value_or("")},
          {"command", command}};
}

std::string JournalPathOf(const Options& options) {
  return options.journalFile.value_or(DefaultJournalPath());
}

void Record(const Options& options, const nlohmann::json& record) {
  if (options.noJournal) return;
  AppendJournalLine(JournalPathOf(options), station::Dump(record));
}

}  // namespace tarvo_cli
