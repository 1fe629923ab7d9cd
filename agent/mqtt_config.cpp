#include "agent/mqtt_config.h"

#include <algorithm>
#include <stdexcept>

#include "agent/agent_config.h"

namespace agent {

namespace {

const char* const kMqttKeys[] = {"url",       "username", "password_file", "ca_file",
                                 "cert_file", "key_file", "keepalive_s"};

}  // namespace

std::optional<tarvo_mqtt::ClientSettings> ReadMqttSection(const std::string& path,
                                                          const toml::node* section,
                                                          const std::string& station) {
  if (section == nullptr) return std::nullopt;
  const auto refuse = [&path](const std::string& key, const std::string& what) {
    throw ConfigError(path + ": mqtt" + (key.empty() ? "" : "." + key) + ": " + what);
  };
  const toml::table* table = section->as_table();
  if (table == nullptr) refuse("", "should be a section [mqtt]");
  for (const auto& [key, value] : *table) {
    if (std::find(std::begin(kMqttKeys), std::end(kMqttKeys), key.str()) == std::end(kMqttKeys))
      refuse(std::string(key.str()),
             "unknown key (known: url, username, password_file, ca_file, cert_file, key_file, "
             "keepalive_s)");
  }
  const auto text = [&](const char* key, const char* what) -> std::string {
    const toml::node* node = table->get(key);
    if (node == nullptr) return "";
    if (!node->is_string() || node->value<std::string>()->empty()) refuse(key, what);
    return *node->value<std::string>();
  };
  const auto file = [&](const char* key) {
    const std::string name = text(key, "should be an absolute file path");
    if (!name.empty() && name.front() != '/') refuse(key, "should be an absolute file path");
    return name;
  };

  tarvo_mqtt::ClientSettings settings;
  settings.url = text("url", "should be mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
  if (settings.url.empty()) refuse("url", "is needed: mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
  try {
    tarvo_mqtt::ParseBrokerUrl(settings.url);
  } catch (const std::invalid_argument& error) {
    refuse("url", error.what());
  }
  settings.username = text("username", "should be the station's user name on the broker");
  if (settings.username.empty()) settings.username = station;
  settings.passwordFile = file("password_file");
  settings.caFile = file("ca_file");
  settings.certFile = file("cert_file");
  settings.keyFile = file("key_file");
  if (settings.certFile.empty() != settings.keyFile.empty())
    refuse(settings.certFile.empty() ? "cert_file" : "key_file",
           "cert_file and key_file go together");
  if (const toml::node* keepalive = table->get("keepalive_s")) {
    const std::optional<int64_t> seconds = keepalive->value<int64_t>();
    if (!keepalive->is_integer() || *seconds < 5 || *seconds > 3600)
      refuse("keepalive_s", "should be a whole number of seconds, 5..3600");
    settings.keepaliveS = static_cast<int>(*seconds);
  }
  return settings;
}

}  // namespace agent
