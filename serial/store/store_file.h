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

// Serialises read, change and replace of one store file between programs:
// held from before the file is read until after it is replaced, it makes
// other programs' stores of the same file wait. The lock is on "<file>.lock"
// beside the file (a link's target), which stays for the next store: the store
// file itself is replaced by every store, so a lock on it would not last.
class StoreFileLock {
 public:
  explicit StoreFileLock(const std::string& path);
  ~StoreFileLock();
  StoreFileLock(StoreFileLock&& other) noexcept;
  StoreFileLock& operator=(StoreFileLock&&) = delete;
  StoreFileLock(const StoreFileLock&) = delete;
  StoreFileLock& operator=(const StoreFileLock&) = delete;

 private:
  int fd_ = -1;
};
