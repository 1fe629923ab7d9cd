#pragma once
// How the program ends: the exit statuses scripts rely on, and the failure
// that carries one of them with the line said on stderr.

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace station {

enum class ExitStatus {
  kDone = 0,          // done, every written panel verified
  kNotConfirmed = 1,  // the sign did not confirm, or no sign answered
  kBadUsage = 2,      // bad usage or input: nothing was sent
  kPortError = 3,     // the port failed, or the journal cannot be written: nothing was changed
  kNotRecorded = 4,   // done on the sign, but the journal record, or the output, was lost
  kInterrupted = 130, // SIGINT during a write: the frame on the line finished, no more sent
  kTerminated = 143,  // SIGTERM, likewise
};

// The message is the stderr line without the program's name: what, where,
// the cause in words and the fix. A failure on a port names it.
class CliFailure : public std::runtime_error {
 public:
  CliFailure(ExitStatus status, const std::string& message, std::string port = {})
      : std::runtime_error(message), status_(status), port_(std::move(port)) {}
  ExitStatus Status() const { return status_; }
  const std::string& Port() const { return port_; }

 private:
  ExitStatus status_;
  std::string port_;
};

// {"status", "port", "device", "message"}: what --json prints as
// {"error": ...} when a command fails, beside the stderr line.
nlohmann::json ErrorJson(ExitStatus status, const std::string& message,
                         const std::string& port = {});

}  // namespace station
