#pragma once
// Whether a compiled gettext catalogue (.mo) is one that glibc reads safely.
// glibc skips a file whose magic number or revision it does not know but
// trusts everything else in it, so a catalogue must be checked whole before
// its folder is bound.

#include <string_view>

// The catalogue's bytes: the magic number in either byte order, a revision
// without system-dependent strings, both string tables and every string in
// them inside the file, each string ending in its NUL there, and a hash table
// that glibc uses (more than two slots) of prime size, with an empty slot and
// no slot beyond the messages, so that every probe ends.
bool IsSafeCatalogue(std::string_view bytes);
