#pragma once
// Whole-file reads and atomic replacement for the settings files, so that a
// store either lands completely or leaves the old file as it was.

#include <optional>
#include <stdexcept>
#include <string>

// A settings file that cannot be read, parsed or written.
class SettingsStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The file's bytes, or nothing when it does not exist. Raises SettingsStoreError
// when it exists but cannot be read (a folder, no permission, an I/O error).
std::optional<std::string> ReadStoreFile(const std::string& path);

// Writes a temporary file in the same folder, flushes it to disk and renames it
// over `path`; an existing file keeps its permissions. A `path` that is a
// symbolic link stays one: its target is replaced, in the target's folder. On
// failure the temporary file is removed, `path` is untouched and
// SettingsStoreError is raised.
void ReplaceStoreFile(const std::string& path, const std::string& content);
