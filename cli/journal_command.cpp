// journal: the recorded writes and brightness changes, newest last, read a
// line at a time however long the journal has grown.
#include <set>

#include "station/text.h"
#include "cli/commands.h"
#include "cli/journal.h"
#include "cli/journal_record.h"
#include "station/panel_json.h"
#include "station/quoted.h"

namespace tarvo_cli {

namespace {

std::string Text(const nlohmann::json& entry, const char* key) {
  const auto value = entry.find(key);
  if (value == entry.end() || value->is_null()) return "-";
  return value->is_string() ? value->get<std::string>() : station::Dump(*value);
}

bool IsIntent(const nlohmann::json& entry) { return entry.value("stage", "") == "intent"; }

std::string Summary(const nlohmann::json& entry) {
  std::string text = Text(entry, "time") + "  " + Text(entry, "user") + "@" + Text(entry, "host") +
                     "  " + Text(entry, "port") + "  " + Text(entry, "command");
  if (entry.contains("level")) text += " " + Text(entry, "level");
  if (entry.contains("panels") && entry["panels"].is_array()) {
    for (const nlohmann::json& panel : entry["panels"]) {
      const nlohmann::json asked = panel.value("asked", nlohmann::json());
      if (!asked.is_object()) continue;
      text += "  " + Text(panel, "address") + "=" + Text(asked, "price");
    }
  }
  if (IsIntent(entry)) return text + "  " + station::Tr("outcome unknown");
  const bool verified = entry.value("verified", false);
  return text + "  " + (verified ? station::Tr("verified") : station::Tr("NOT verified")) + "  " +
         station::Format("exit %s", {Text(entry, "exit")});
}

}  // namespace

station::ExitStatus RunJournal(const Options& options, Console& console) {
  const std::string path = JournalPathOf(options);
  const auto record = [&](const std::string& line) {
    return nlohmann::json::parse(line, nullptr, false);
  };
  // First the runs that have their outcome, so that their intents are not
  // shown as unknown.
  std::set<std::string> concluded;
  ForEachJournalLine(path, [&](const std::string& line) {
    const nlohmann::json entry = record(line);
    if (entry.is_object() && !IsIntent(entry) && entry.contains("id"))
      concluded.insert(Text(entry, "id"));
  });

  if (options.json) console.out << "{\"journal\":" << station::Dump(path) << ",\"entries\":[";
  bool first = true;
  int number = 0;
  const bool tornTail = ForEachJournalLine(path, [&](const std::string& line) {
    ++number;
    nlohmann::json entry = record(line);
    if (!entry.is_object()) {
      console.err << "tarvo-cli: "
                  << station::Format("journal %s: line %s is not a record (cut off by a power "
                                     "loss?); skipped",
                                     {station::Quoted(path), std::to_string(number)})
                  << '\n';
      return;
    }
    if (IsIntent(entry) && concluded.count(Text(entry, "id")) != 0) return;
    if (!options.json) {
      console.out << Summary(entry) << '\n';
      return;
    }
    if (IsIntent(entry)) entry["outcome"] = "unknown";
    console.out << (first ? "" : ",") << station::Dump(entry);
    first = false;
  });
  if (options.json) console.out << "]}\n";
  if (tornTail)
    console.err << "tarvo-cli: "
                << station::Format("journal %s: the last line is cut off (a power loss during a "
                                   "write?); skipped",
                                   {station::Quoted(path)})
                << '\n';
  return station::ExitStatus::kDone;
}

}  // namespace tarvo_cli
