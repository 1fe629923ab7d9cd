#pragma once
// The [mqtt] section of agent.toml: the head office's broker and who the
// station is to it. Without the section the station stands alone.

#include <toml++/toml.h>

#include <optional>
#include <string>

#include "mqtt/broker_settings.h"

namespace agent {

// section: the "mqtt" node of the file, or null. Throws ConfigError
// "FILE: mqtt.KEY: what it should be" for a bad key or value.
std::optional<tarvo_mqtt::ClientSettings> ReadMqttSection(const std::string& path,
                                                          const toml::node* section,
                                                          const std::string& station);

}  // namespace agent
