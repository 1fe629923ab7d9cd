// The broker's settings from the line's options over fleet.toml's keys.
#include <toml++/toml.h>

#include <algorithm>
#include <filesystem>

#include "fleet_push/failure.h"
#include "fleet/options.h"
#include "fleet/user_files.h"

namespace tarvo_fleet {

namespace {

std::string ConfigPath() { return UserFile("XDG_CONFIG_HOME", ".config", "fleet.toml"); }

BrokerOptions FromFile(const std::string& path) {
  BrokerOptions file;
  if (!std::filesystem::exists(path)) return file;
  toml::table table;
  try {
    table = toml::parse_file(path);
  } catch (const toml::parse_error& error) {
    throw FleetFailure(ExitStatus::kBadInput, path + ":" +
                                                  std::to_string(error.source().begin.line) + ": " +
                                                  std::string(error.description()));
  }
  const std::pair<const char*, std::optional<std::string>*> keys[] = {
      {"broker", &file.broker},
      {"username", &file.username},
      {"password_file", &file.passwordFile},
      {"ca_file", &file.caFile},
      {"cert_file", &file.certFile},
      {"key_file", &file.keyFile}};
  for (const auto& [key, value] : table) {
    const auto known = std::find_if(std::begin(keys), std::end(keys),
                                    [&](const auto& k) { return key.str() == k.first; });
    if (known == std::end(keys))
      throw FleetFailure(ExitStatus::kBadInput,
                         path + ": unknown key \"" + std::string(key.str()) +
                             "\" (broker, username, password_file, ca_file, cert_file, key_file)");
    if (!value.is_string())
      throw FleetFailure(ExitStatus::kBadInput,
                         path + ": \"" + std::string(key.str()) + "\" must be a text in quotes");
    *known->second = value.as_string()->get();
  }
  return file;
}

}  // namespace

tarvo_mqtt::ClientSettings BrokerSettings(const BrokerOptions& line) {
  const BrokerOptions file = FromFile(ConfigPath());
  const auto pick = [](const std::optional<std::string>& first,
                       const std::optional<std::string>& second) {
    return first.value_or(second.value_or(""));
  };
  tarvo_mqtt::ClientSettings settings;
  settings.url = pick(line.broker, file.broker);
  if (settings.url.empty())
    throw FleetFailure(ExitStatus::kBadInput,
                       "no broker: give --broker URL or broker = \"...\" in " + ConfigPath());
  settings.username = pick(line.username, file.username);
  settings.passwordFile = pick(line.passwordFile, file.passwordFile);
  settings.caFile = pick(line.caFile, file.caFile);
  settings.certFile = pick(line.certFile, file.certFile);
  settings.keyFile = pick(line.keyFile, file.keyFile);
  return settings;
}

}  // namespace tarvo_fleet
