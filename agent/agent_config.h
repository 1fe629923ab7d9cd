#pragma once
// tarvo-agent's configuration file (TOML). Every key may be left out; a key
// with a bad value stops the start with one line naming it.

#include <optional>
#include <stdexcept>
#include <string>
#include <sys/types.h>

#include "mqtt/broker_settings.h"

namespace agent {

enum class DriftMode { kHeal, kReport };

struct AgentConfig {
  std::string station = "station";  // letters, digits, "-", "_"
  std::string port = "auto";        // "auto", COMn, or a device path under /dev/
  int verifyIntervalS = 300;
  int clientTimeoutS = 30;  // a control client idle this long is let go
  DriftMode drift = DriftMode::kHeal;
  std::string stateDir;  // $STATE_DIRECTORY, else /var/lib/tarvo
  std::string socket;    // $RUNTIME_DIRECTORY/agent.sock, else /run/tarvo/agent.sock
  std::string socketGroup = "tarvo";
  gid_t socketGid = 0;  // the group's number, looked up at load
  // [mqtt]: the head office's broker; none: the station stands alone.
  std::optional<tarvo_mqtt::ClientSettings> mqtt;
};

// "FILE: key: what it should be".
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kDefaultConfigPath = "/etc/tarvo/agent.toml";

// The file at path; a missing file is an error only when it was named
// (required), otherwise the defaults apply.
AgentConfig LoadConfig(const std::string& path, bool required);

}  // namespace agent
