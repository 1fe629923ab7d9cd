#pragma once
// The command line: one verb and the options that every verb takes.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarvo_cli {

enum class Command { kPorts, kFind, kRead, kWrite, kBrightness, kJournal, kStatus, kSchedule, kHistory };

struct Options {
  Command command = Command::kPorts;
  std::optional<std::string> port;  // read, write, brightness; else found by find
  bool json = false;
  bool trace = false;
  int timeoutMs = 100;  // the wait for one answer: two read delays
  std::optional<std::string> journalFile;
  bool noJournal = false;
  std::vector<std::string> specs;   // write
  std::optional<std::string> file;  // write --file
  std::string level;                // brightness: "auto" or 0..9
  bool direct = false;              // read, write, brightness: the port itself, not the agent
  std::optional<std::string> at;    // write, brightness: when the agent applies it (RFC 3339)
  std::optional<std::string> since;     // history
  std::optional<std::string> cancelId;  // schedule cancel ID
};

// The options of the command line, or nothing when --help or --version was
// answered on `out`. Throws CliFailure (bad usage) with the parser's words.
std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::ostream& out);

}  // namespace tarvo_cli
