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
// when it exists but cannot be read (no permission, an I/O error), is no
// regular file (a folder, a FIFO, a device) or is larger than any store file.
std::optional<std::string> ReadStoreFile(const std::string& path);

// Creates the missing folders above a store file, each with its entry flushed
// in its parent, as a replacement flushes its own: a power cut must not take
// a new folder, and the file in it, away.
void CreateStoreFolders(const std::string& file);

// Writes a temporary file in the same folder, flushes it to disk and renames it
// over `path`; an existing file keeps its owner, group and mode, and a store
// that cannot give the new file that owner and group fails. A `path` that is a
// symbolic link stays one: its target is replaced, in the target's folder. On
// failure the temporary file is removed, `path` is untouched and
// SettingsStoreError is raised.
void ReplaceStoreFile(const std::string& path, const std::string& content);

// Serialises read, change and replace of one store file between programs:
// held from before the file is read until after it is replaced, it makes
// other programs' stores of the same file wait. The lock is on the store file
// itself (a link's target), so everyone who may write the file may take it;
// a missing file is created empty for it, and removed again when no store
// filled it.
class StoreFileLock {
 public:
  explicit StoreFileLock(const std::string& path);
  ~StoreFileLock();
  StoreFileLock(StoreFileLock&& other) noexcept;
  StoreFileLock& operator=(StoreFileLock&&) = delete;
  StoreFileLock(const StoreFileLock&) = delete;
  StoreFileLock& operator=(const StoreFileLock&) = delete;

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;
};
