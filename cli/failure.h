#pragma once
// How the program ends: the exit statuses scripts rely on, and the failure
// that carries one of them with the line said on stderr.

#include <stdexcept>
#include <string>

namespace tarvo_cli {

enum class ExitStatus {
  kDone = 0,          // done, every written panel verified
  kNotConfirmed = 1,  // the sign did not confirm, or no sign was found
  kBadUsage = 2,      // bad usage or input: nothing was sent
  kPortError = 3,     // the port failed, or the journal could not be written
};

// The message is the stderr line without the program's name: what, where,
// the cause in words and the fix.
class CliFailure : public std::runtime_error {
 public:
  CliFailure(ExitStatus status, const std::string& message)
      : std::runtime_error(message), status_(status) {}
  ExitStatus Status() const { return status_; }

 private:
  ExitStatus status_;
};

}  // namespace tarvo_cli
