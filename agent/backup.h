#pragma once
// tarvo-agent --backup FILE: a consistent copy of the agent's database, made
// with SQLite's online backup while the agent runs, as a single file (no
// write-ahead log beside it) that replaces FILE only once it is whole.

#include <string>

namespace agent {

// Throws std::runtime_error naming the file and what failed.
void BackUpDatabase(const std::string& database, const std::string& copy);

}  // namespace agent
