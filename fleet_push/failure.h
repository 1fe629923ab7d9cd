#pragma once
// How tarvo-fleet ends: the exit statuses scripts rely on, and the failure
// that carries one of them with its line for stderr.

#include <stdexcept>
#include <string>

namespace tarvo_fleet {

enum class ExitStatus {
  kDone = 0,          // every station confirmed
  kNotConfirmed = 1,  // some station did not confirm (listed)
  kBadInput = 2,      // bad usage or input: nothing was published
  kBroker = 3,        // the broker could not be reached or refused us
};

// The message is the stderr line without the program's name.
class FleetFailure : public std::runtime_error {
 public:
  FleetFailure(ExitStatus status, const std::string& message)
      : std::runtime_error(message), status_(status) {}
  ExitStatus Status() const { return status_; }

 private:
  ExitStatus status_;
};

}  // namespace tarvo_fleet
