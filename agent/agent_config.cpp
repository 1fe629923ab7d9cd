#include "agent/agent_config.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <toml++/toml.h>

#include "agent/mqtt_config.h"
#include "station/port_name.h"

namespace agent {

namespace {

const char* const kKeys[] = {"station", "port",   "verify_interval_s", "client_timeout_s", "drift",
                             "state_dir", "socket", "socket_group", "mqtt"};

// The first folder of a systemd directory variable (it may list several, ":" between).
std::string FirstFolder(const char* variable, const std::string& fallback) {
  const char* value = std::getenv(variable);
  if (value == nullptr || *value == '\0') return fallback;
  const std::string folders = value;
  return folders.substr(0, folders.find(':'));
}

bool IsStationId(const std::string& text) {
  return !text.empty() && text.size() <= 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_';
         });
}

class Reader {
 public:
  Reader(std::string path, const toml::table& table) : path_(std::move(path)), table_(table) {}

  [[noreturn]] void Refuse(const std::string& key, const std::string& what) const {
    throw ConfigError(path_ + ": " + key + ": " + what);
  }
  // A text value, or nothing when the key is absent.
  std::optional<std::string> Text(const char* key, const char* what) const {
    const toml::node* node = table_.get(key);
    if (node == nullptr) return std::nullopt;
    if (!node->is_string() || node->value<std::string>()->empty()) Refuse(key, what);
    return *node->value<std::string>();
  }
  std::optional<int64_t> Integer(const char* key, const char* what) const {
    const toml::node* node = table_.get(key);
    if (node == nullptr) return std::nullopt;
    if (!node->is_integer()) Refuse(key, what);
    return *node->value<int64_t>();
  }

 private:
  std::string path_;
  const toml::table& table_;
};

void Read(const Reader& reader, AgentConfig& config) {
  if (auto station = reader.Text("station", "should be an id of letters, digits, - and _")) {
    if (!IsStationId(*station)) reader.Refuse("station", "should be an id of letters, digits, - and _");
    config.station = *station;
  }
  const char* portWhat =
      "should be \"auto\", a COM name such as \"COM3\" (no leading zero) or a device path under /dev/ "
      "without \".\" or \"..\" parts";
  if (auto port = reader.Text("port", portWhat)) {
    if (*port != "auto" && !station::IsPortName(*port)) reader.Refuse("port", portWhat);
    config.port = *port;
  }
  const char* intervalWhat = "should be a whole number of seconds, 1..86400";
  if (auto interval = reader.Integer("verify_interval_s", intervalWhat)) {
    if (*interval < 1 || *interval > 86400) reader.Refuse("verify_interval_s", intervalWhat);
    config.verifyIntervalS = static_cast<int>(*interval);
  }
  const char* timeoutWhat = "should be a whole number of seconds, 1..3600";
  if (auto timeout = reader.Integer("client_timeout_s", timeoutWhat)) {
    if (*timeout < 1 || *timeout > 3600) reader.Refuse("client_timeout_s", timeoutWhat);
    config.clientTimeoutS = static_cast<int>(*timeout);
  }
  if (auto drift = reader.Text("drift", "should be \"heal\" or \"report\"")) {
    if (*drift != "heal" && *drift != "report") reader.Refuse("drift", "should be \"heal\" or \"report\"");
    config.drift = *drift == "heal" ? DriftMode::kHeal : DriftMode::kReport;
  }
  if (auto folder = reader.Text("state_dir", "should be an absolute folder path")) {
    if (folder->front() != '/') reader.Refuse("state_dir", "should be an absolute folder path");
    config.stateDir = *folder;
  }
  if (auto socket = reader.Text("socket", "should be an absolute path for the control socket")) {
    if (socket->front() != '/') reader.Refuse("socket", "should be an absolute path for the control socket");
    config.socket = *socket;
  }
  if (auto group = reader.Text("socket_group", "should be the name of a group")) config.socketGroup = *group;
  const group* found = getgrnam(config.socketGroup.c_str());
  if (found == nullptr)
    reader.Refuse("socket_group", "should name a group that exists (no group \"" + config.socketGroup + "\")");
  config.socketGid = found->gr_gid;
}

}  // namespace

AgentConfig LoadConfig(const std::string& path, bool required) {
  AgentConfig config;
  config.stateDir = FirstFolder("STATE_DIRECTORY", "/var/lib/tarvo");
  config.socket = FirstFolder("RUNTIME_DIRECTORY", "/run/tarvo") + "/agent.sock";
  toml::table table;
  struct stat info{};
  const bool present = stat(path.c_str(), &info) == 0;
  if (required && !present) throw ConfigError(path + ": cannot read it: " + std::strerror(errno));
  if (present && !S_ISREG(info.st_mode)) throw ConfigError(path + ": is not a file; give the configuration file");
  if (present) {
    try {
      table = toml::parse_file(path);
    } catch (const toml::parse_error& error) {
      const auto& where = error.source().begin;
      throw ConfigError(path + ":" + std::to_string(where.line) + ": " + std::string(error.description()));
    }
  }
  for (const auto& [key, value] : table) {
    if (std::find(std::begin(kKeys), std::end(kKeys), key.str()) == std::end(kKeys))
      throw ConfigError(path + ": " + std::string(key.str()) +
                        ": unknown key (known: station, port, verify_interval_s, client_timeout_s, drift, state_dir, "
                        "socket, socket_group, [mqtt])");
  }
  Read(Reader(path, table), config);
  config.mqtt = ReadMqttSection(path, table.get("mqtt"), config.station);
  return config;
}

}  // namespace agent
