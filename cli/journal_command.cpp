// journal: the recorded writes and brightness changes, newest last.
#include "cli/commands.h"
#include "cli/journal.h"
#include "cli/journal_record.h"
#include "station/panel_json.h"

namespace tarvo_cli {

namespace {

std::string Text(const nlohmann::json& entry, const char* key) {
  const auto value = entry.find(key);
  if (value == entry.end() || value->is_null()) return "-";
  return value->is_string() ? value->get<std::string>() : station::Dump(*value);
}

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
  const bool verified = entry.value("verified", false);
  return text + (verified ? "  verified" : "  NOT verified") + "  exit " + Text(entry, "exit");
}

}  // namespace

ExitStatus RunJournal(const Options& options, Console& console) {
  const std::string path = JournalPathOf(options);
  const JournalContents contents = ReadJournal(path);
  nlohmann::json entries = nlohmann::json::array();
  int number = 0;
  for (const std::string& line : contents.lines) {
    ++number;
    nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    if (!entry.is_object()) {
      console.err << "tarvo-cli: journal " << path << ": line " << number
                  << " is not a record (cut off by a power loss?); skipped\n";
      continue;
    }
    if (options.json) {
      entries.push_back(std::move(entry));
    } else {
      console.out << Summary(entry) << '\n';
    }
  }
  if (contents.tornTail)
    console.err << "tarvo-cli: journal " << path
                << ": the last line is cut off (a power loss during a write?); skipped\n";
  if (options.json) console.out << station::Dump({{"journal", path}, {"entries", entries}}) << '\n';
  return ExitStatus::kDone;
}

}  // namespace tarvo_cli
