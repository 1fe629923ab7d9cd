#pragma once
// The programs' command lines (CLI11): --help and --version answered the
// same way everywhere.

#include <CLI/CLI.hpp>
#include <ostream>

namespace station {

// Parses the line. --help (and --help-all) and --version are answered on
// `out`, and then it returns false: there is nothing more to do. A line the
// parser refuses leaves as CLI::ParseError, for the program to word.
bool ParseOrAnswer(CLI::App& app, int argc, const char* const* argv, std::ostream& out);

}  // namespace station
