#pragma once
// The station programs' words for people, through the gettext text domain
// "tarvo-cli": English as written, or the catalogue's language once a program
// has bound the domain to the user's locale (tarvo-cli does so except for
// --json, which never changes with the locale).

#include <initializer_list>
#include <string>

namespace station {

inline constexpr const char* kTextDomain = "tarvo-cli";

// Marks a text for the catalogue where it is translated later by Tr.
#define N_(text) text

// The text in the user's language.
std::string Tr(const char* english);
// Tr of a text whose %s are filled in order with `values`.
std::string Format(const char* english, std::initializer_list<std::string> values);
// `text` padded with spaces to `columns` characters (not bytes: a translation
// is UTF-8), for a table's column.
std::string PadRight(const std::string& text, size_t columns);

}  // namespace station
