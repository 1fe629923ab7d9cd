#pragma once
// The journal of price changes: JSON lines appended and flushed to disk,
// never rewritten. Each line is there whole or not at all.

#include <functional>
#include <string>

namespace tarvo_cli {

// $XDG_STATE_HOME/tarvo/journal.jsonl, or ~/.local/state/tarvo/journal.jsonl.
// Throws CliFailure (port error) when neither XDG_STATE_HOME nor HOME is set.
std::string DefaultJournalPath();

// The journal opened for appending before anything is sent, so that a
// journal that cannot be written stops the command while the sign is
// unchanged. Its folders and the file are made as needed, and each new
// entry is flushed to disk with them.
class JournalFile {
 public:
  // Throws CliFailure (port error) saying why and that nothing was sent:
  // no such folder possible, no access, an immutable file, a full disk.
  explicit JournalFile(std::string path);
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // Appends the line with its end and flushes it. A torn last line left by
  // a power cut is closed first. A line that does not fit whole is taken
  // back. Returns "" or why it failed ("No space left on device").
  std::string Append(const std::string& line);
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// Each whole line of the journal in turn, oldest first, without holding the
// file in memory. A journal that does not exist yet has none. Returns true
// when the last line had no end (cut off: skipped). Throws CliFailure (port
// error) when it cannot be read.
bool ForEachJournalLine(const std::string& path, const std::function<void(const std::string&)>& use);

}  // namespace tarvo_cli
