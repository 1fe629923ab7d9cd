#pragma once
// Runs the built tarvo-cli as its own process, as a script would.

#include "tests/support/child_process.h"

namespace tarvo::test {

using CliResult = ProcessResult;

class CliProcess : public ChildProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& args,
                      std::optional<uid_t> uid = std::nullopt)
      : ChildProcess(Line(args), uid) {}

 private:
  static std::vector<std::string> Line(const std::vector<std::string>& args) {
    std::vector<std::string> line = {TARVO_CLI_PROGRAM};
    line.insert(line.end(), args.begin(), args.end());
    return line;
  }
};

inline CliResult RunCli(const std::vector<std::string>& args,
                        std::optional<uid_t> uid = std::nullopt) {
  return CliProcess(args, uid).Finish();
}

}  // namespace tarvo::test
