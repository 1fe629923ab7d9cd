#pragma once
// Where tarvo-fleet keeps a user's files, by the XDG base directories.

#include <string>

namespace tarvo_fleet {

// "<$variable, or $HOME/<fallback>>/tarvo/<name>": UserFile("XDG_CONFIG_HOME",
// ".config", "fleet.toml").
std::string UserFile(const char* variable, const char* fallback, const std::string& name);

}  // namespace tarvo_fleet
