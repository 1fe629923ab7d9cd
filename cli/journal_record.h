#pragma once
// The journal line of one write or brightness command: who, where, when,
// and what the sign held, was asked and held after.

#include <nlohmann/json.hpp>
#include <string>

#include "cli/options.h"

namespace tarvo_cli {

// {"time", "user", "host", "port", "device", "command"}; the command adds the rest.
nlohmann::json JournalRecord(const std::string& command, const std::string& portName);

// Appends the record to --journal FILE or the default journal, unless
// --no-journal. Throws CliFailure (port error) when it cannot be written.
void Record(const Options& options, const nlohmann::json& record);

// The journal file the options name.
std::string JournalPathOf(const Options& options);

}  // namespace tarvo_cli
