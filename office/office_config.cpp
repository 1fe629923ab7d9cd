#include "office/office_config.h"

#include <arpa/inet.h>
#include <toml++/toml.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "mqtt/topics.h"

namespace office {

namespace {

class Reader {
 public:
  Reader(std::string path, const toml::table& table, std::string prefix = "")
      : path_(std::move(path)), table_(table), prefix_(std::move(prefix)) {}

  [[noreturn]] void Fail(const std::string& key, const std::string& what) const {
    throw ConfigError(path_ + ": " + prefix_ + key + ": " + what);
  }
  void Text(const char* key, std::string& into) {
    seen_.insert(key);
    const toml::node* node = table_.get(key);
    if (node == nullptr) return;
    if (!node->is_string()) Fail(key, "must be a text in quotes");
    into = node->as_string()->get();
  }
  void Integer(const char* key, int& into, int lowest, int highest) {
    seen_.insert(key);
    const toml::node* node = table_.get(key);
    if (node == nullptr) return;
    if (!node->is_integer() || node->as_integer()->get() < lowest ||
        node->as_integer()->get() > highest)
      Fail(key, "must be a whole number " + std::to_string(lowest) + ".." + std::to_string(highest));
    into = static_cast<int>(node->as_integer()->get());
  }
  const toml::table* Section(const char* key) {
    seen_.insert(key);
    const toml::node* node = table_.get(key);
    if (node == nullptr) return nullptr;
    if (!node->is_table()) Fail(key, "must be a section [" + std::string(key) + "]");
    return node->as_table();
  }
  void Finish() const {
    for (const auto& [key, value] : table_)
      if (!seen_.count(std::string(key.str()))) Fail(std::string(key.str()), "unknown key");
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  const toml::table& table_;
  std::string prefix_;
  std::set<std::string> seen_;
};

void ReadGroups(const std::string& path, const toml::table& section, OfficeConfig& config) {
  for (const auto& [key, value] : section) {
    const std::string name(key.str());
    const auto fail = [&](const std::string& what) {
      throw ConfigError(path + ": groups." + name + ": " + what);
    };
    if (!tarvo_mqtt::IsStationId(name)) fail("a group's name is letters, digits, - and _");
    if (!value.is_array()) fail("must be a list of station ids in quotes");
    std::vector<std::string>& members = config.groups[name];
    for (const toml::node& member : *value.as_array()) {
      if (!member.is_string() || !tarvo_mqtt::IsStationId(member.as_string()->get()))
        fail("must be a list of station ids in quotes");
      members.push_back(member.as_string()->get());
    }
  }
}

}  // namespace

bool IsLoopback(const std::string& address) {
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return address == "::1";
}

OfficeConfig LoadConfig(const std::string& path, bool named) {
  OfficeConfig config;
  const char* stateDirectory = std::getenv("STATE_DIRECTORY");
  config.stateDir = stateDirectory && *stateDirectory ? stateDirectory : "/var/lib/tarvo-office";
  config.webDir = TARVO_OFFICE_WEB_DIR;
  config.broker.url = "mqtt://127.0.0.1:1883";
  config.broker.clientId = "tarvo-office";
  config.broker.username = "head-office";
  std::string listen = config.listenAddress + ":" + std::to_string(config.listenPort);
  if (!std::filesystem::exists(path)) {
    if (named) throw ConfigError(path + ": no such file");
  } else {
    toml::table table;
    try {
      table = toml::parse_file(path);
    } catch (const toml::parse_error& error) {
      throw ConfigError(path + ":" + std::to_string(error.source().begin.line) + ": " +
                        std::string(error.description()));
    }
    Reader top(path, table);
    top.Text("state_dir", config.stateDir);
    top.Text("users_file", config.usersFile);
    top.Text("web_dir", config.webDir);
    if (const toml::table* broker = top.Section("broker")) {
      Reader section(path, *broker, "broker.");
      section.Text("url", config.broker.url);
      section.Text("client_id", config.broker.clientId);
      section.Text("username", config.broker.username);
      section.Text("password_file", config.broker.passwordFile);
      section.Text("ca_file", config.broker.caFile);
      section.Text("cert_file", config.broker.certFile);
      section.Text("key_file", config.broker.keyFile);
      section.Finish();
      try {
        tarvo_mqtt::ParseBrokerUrl(config.broker.url);
      } catch (const std::invalid_argument& error) {
        section.Fail("url", error.what());
      }
      if (config.broker.clientId.empty()) section.Fail("client_id", "must not be empty");
    }
    if (const toml::table* http = top.Section("http")) {
      Reader section(path, *http, "http.");
      section.Text("listen", listen);
      section.Text("cert_file", config.certFile);
      section.Text("key_file", config.keyFile);
      section.Text("metrics_token_file", config.metricsTokenFile);
      section.Integer("push_timeout_s", config.pushTimeoutS, 1, 3600);
      section.Finish();
      if (config.certFile.empty() != config.keyFile.empty())
        section.Fail("cert_file", "cert_file and key_file go together");
    }
    if (const toml::table* groups = top.Section("groups")) ReadGroups(path, *groups, config);
    top.Finish();
  }
  const size_t colon = listen.rfind(':');
  const std::string host = colon == std::string::npos ? "" : listen.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : listen.substr(colon + 1);
  char* end = nullptr;
  const long number = std::strtol(port.c_str(), &end, 10);
  in6_addr any{};
  if (host.empty() || port.empty() || *end != '\0' || number < 0 || number > 65535 ||
      (inet_pton(AF_INET, host.c_str(), &any) != 1 && inet_pton(AF_INET6, host.c_str(), &any) != 1))
    throw ConfigError(path + ": http.listen: must be ADDRESS:PORT such as \"127.0.0.1:8480\"");
  config.listenAddress = host;
  config.listenPort = static_cast<int>(number);
  // Passwords and session cookies cross the network only inside TLS.
  if (!IsLoopback(config.listenAddress) && !config.Tls())
    throw ConfigError(path + ": http.listen: " + host +
                      " is not a loopback address; set http.cert_file and http.key_file for TLS");
  if (config.usersFile.empty()) config.usersFile = config.stateDir + "/users";
  return config;
}

}  // namespace office
