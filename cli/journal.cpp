#include "station/text.h"
#include "cli/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "station/failure.h"
#include "station/quoted.h"

namespace tarvo_cli {

namespace {

// Room a record needs at most (ten panels before, asked and after): a disk
// with less is full for the journal.
constexpr unsigned long long kRoomForARecord = 64 * 1024;

[[noreturn]] void CannotWrite(const std::string& path, int error) {
  throw station::CliFailure(station::ExitStatus::kPortError,
                   station::Format("journal %s: %s; nothing was sent to the sign (give --journal "
                                   "FILE or --no-journal to write anyway)",
                                   {station::Quoted(path), std::strerror(error)}));
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// True when the file is empty or ends with a line end.
bool EndsWithLineEnd(int fd, off_t size) {
  char last = '\n';
  return size <= 0 || pread(fd, &last, 1, size - 1) != 1 || last == '\n';
}

// fsync of a folder, so that a new entry in it survives a power cut.
void FlushFolder(const std::filesystem::path& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Makes the missing folders one by one, each flushed into its parent.
int MakeFolders(const std::filesystem::path& folder) {
  if (folder.empty() || std::filesystem::is_directory(folder)) return 0;
  if (const int error = MakeFolders(folder.parent_path())) return error;
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return errno;
  FlushFolder(folder.parent_path());
  return 0;
}

}  // namespace

std::string DefaultJournalPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && *state == '/') return std::string(state) + "/tarvo/journal.jsonl";
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home != '/')
    throw station::CliFailure(station::ExitStatus::kPortError,
                     station::Tr("no journal: neither HOME nor XDG_STATE_HOME is set; nothing was "
                                 "sent to the sign (give --journal FILE or --no-journal)"));
  return std::string(home) + "/.local/state/tarvo/journal.jsonl";
}

JournalFile::JournalFile(std::string path) : path_(std::move(path)) {
  const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
  if (const int error = MakeFolders(folder)) CannotWrite(path_, error);
  bool created = false;
  fd_ = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd_ >= 0) {
    created = true;
  } else if (errno == EEXIST) {
    fd_ = open(path_.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  }
  if (fd_ < 0) CannotWrite(path_, errno);
  if (created) FlushFolder(folder);
  struct statvfs disk {};
  if (fstatvfs(fd_, &disk) == 0 &&
      static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize < kRoomForARecord) {
    close(fd_);
    CannotWrite(path_, ENOSPC);
  }
}

JournalFile::~JournalFile() {
  if (fd_ >= 0) close(fd_);
}

std::string JournalFile::Append(const std::string& line) {
  // One writer at a time, so that a line taken back is this one.
  while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
  struct stat before {};
  bool written = fstat(fd_, &before) == 0;
  const std::string text =
      (written && !EndsWithLineEnd(fd_, before.st_size) ? "\n" : "") + line + "\n";
  written = written && WriteAll(fd_, text) && fsync(fd_) == 0;
  const int error = errno;
  if (!written && ftruncate(fd_, before.st_size) == 0) fsync(fd_);
  flock(fd_, LOCK_UN);
  return written ? std::string() : std::strerror(error);
}

bool ForEachJournalLine(const std::string& path,
                        const std::function<void(const std::string&)>& use) {
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) {
    if (errno == ENOENT) return false;
    throw station::CliFailure(station::ExitStatus::kPortError,
                     station::Format("journal %s: %s", {station::Quoted(path), std::strerror(errno)}));
  }
  std::string line;
  while (std::getline(file, line)) {
    if (file.eof()) return true;  // no line end: cut off
    if (!line.empty()) use(line);
  }
  if (file.bad())
    throw station::CliFailure(station::ExitStatus::kPortError,
                     station::Format("journal %s: %s", {station::Quoted(path), std::strerror(errno)}));
  return false;
}

}  // namespace tarvo_cli
