#pragma once
// What the user typed, quoted for a one-line message: a newline or another
// control character in a name cannot split the line or hide in it.

#include <string>
#include <string_view>

namespace station {

// "COM3" with its quotes; ", \ and control characters escaped (\n, \t, \x1b).
std::string Quoted(std::string_view text);
// The text with its control characters escaped, so that it stays one line.
std::string OneLine(std::string_view text);

}  // namespace station
