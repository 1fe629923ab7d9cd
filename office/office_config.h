#pragma once
// /etc/tarvo/office.toml: the broker, where the service listens, its files
// and the configured station groups.

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "mqtt/broker_settings.h"

namespace office {

inline constexpr const char* kDefaultConfigPath = "/etc/tarvo/office.toml";

class ConfigError : public std::runtime_error {
 public:
  explicit ConfigError(const std::string& message) : std::runtime_error(message) {}
};

struct OfficeConfig {
  tarvo_mqtt::ClientSettings broker;
  std::string listenAddress = "127.0.0.1";
  int listenPort = 8480;
  std::string certFile;  // with keyFile: HTTPS, and any address may be listened on
  std::string keyFile;
  std::string stateDir;   // office.db
  std::string usersFile;  // "user:role:hash" lines
  std::string webDir;             // the page's static files
  std::string metricsTokenFile;  // bearer token for /metrics off loopback
  int pushTimeoutS = 60;
  std::map<std::string, std::vector<std::string>> groups;
  bool Tls() const { return !certFile.empty(); }
};

// Throws ConfigError "FILE: KEY: what it should be". A file that does not
// exist gives the defaults only when it was not named.
OfficeConfig LoadConfig(const std::string& path, bool named);

// True for 127.0.0.0/8 and ::1.
bool IsLoopback(const std::string& address);

}  // namespace office
