#pragma once
// The journal of price changes: one JSON line per write and brightness
// command, appended and flushed to disk, never rewritten.

#include <string>
#include <vector>

namespace tarvo_cli {

// $XDG_STATE_HOME/tarvo/journal.jsonl, or ~/.local/state/tarvo/journal.jsonl.
std::string DefaultJournalPath();

// Appends the line (its folders made as needed) with O_APPEND and fsync. A
// torn last line left by a power cut is closed first, so the new line stays
// whole. Throws CliFailure (port error status) saying that the sign was
// written but the record was not.
void AppendJournalLine(const std::string& path, const std::string& line);

struct JournalContents {
  std::vector<std::string> lines;  // whole lines, oldest first
  bool tornTail = false;           // the last line had no end: skipped
};
// A journal that does not exist yet is empty. Throws CliFailure (port error
// status) when it cannot be read.
JournalContents ReadJournal(const std::string& path);

}  // namespace tarvo_cli
