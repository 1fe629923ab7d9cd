#pragma once
// tarvo-fleet's command line: one verb, and the broker's options anywhere on
// the line or in $XDG_CONFIG_HOME/tarvo/fleet.toml.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "mqtt/broker_settings.h"

namespace tarvo_fleet {

enum class Command { kStatus, kPush, kCancel, kEvents, kForget };

// The keys of fleet.toml and the options of the same names.
struct BrokerOptions {
  std::optional<std::string> broker;  // --broker / broker
  std::optional<std::string> username;
  std::optional<std::string> passwordFile;
  std::optional<std::string> caFile;
  std::optional<std::string> certFile;
  std::optional<std::string> keyFile;
};

struct Options {
  Command command = Command::kStatus;
  BrokerOptions broker;
  bool json = false;
  // push and cancel
  std::vector<std::string> stations;
  bool all = false;
  std::optional<std::string> stationsFile;
  std::vector<std::string> specs;
  std::optional<std::string> at;
  int timeoutS = 60;
  bool isNew = false;  // --new: a station that has never connected
  std::optional<std::string> cancels;  // cancel CHANGE_ID
  // events (--station), forget (STATION)
  std::optional<std::string> station;
  bool follow = false;
  std::optional<std::string> cursorFile;  // --cursor; default in $XDG_STATE_HOME
};

// The options, or nothing when --help or --version was answered on `out`.
// Throws FleetFailure (bad input) with the parser's words.
std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::ostream& out);

// The broker's settings: the line's options over fleet.toml's keys. Throws
// FleetFailure (bad input) for a file that is not TOML, an unknown key, or no
// broker at all.
tarvo_mqtt::ClientSettings BrokerSettings(const BrokerOptions& line);

}  // namespace tarvo_fleet
