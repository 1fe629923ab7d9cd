#pragma once
// Comparisons that ignore the case of ASCII letters, as the registry, ini
// files and the value-text tables compare names.

#include <string_view>

bool EqualIgnoringCase(std::string_view a, std::string_view b);
// Orders texts ignoring case ("COM10" before "COM2", "a" next to "A").
bool LessIgnoringCase(std::string_view a, std::string_view b);
