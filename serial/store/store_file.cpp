#include "serial/store/store_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw SettingsStoreError(what + " " + path + ": " + std::strerror(error));
}

// Closes the descriptor and removes the temporary file unless it was renamed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      path_ = target + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
      // 0666 lets the user's umask decide, as for any new file of theirs.
      fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST) Fail("cannot create", path_, errno);
    }
    if (fd_ < 0) Fail("cannot create", path_, EEXIST);
  }
  ~TemporaryFile() {
    if (fd_ >= 0) close(fd_);
    if (!renamed_) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  void Write(const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
      const ssize_t n = write(fd_, content.data() + done, content.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail("cannot write", path_, errno);
      done += static_cast<size_t>(n);
    }
  }
  void KeepModeOf(const std::string& target) {
    struct stat old {};
    if (stat(target.c_str(), &old) == 0 && fchmod(fd_, old.st_mode & 07777) != 0) {
      Fail("cannot set the mode of", path_, errno);
    }
  }
  void SyncAndClose() {
    if (fsync(fd_) != 0) Fail("cannot flush", path_, errno);
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) Fail("cannot close", path_, errno);
  }
  void RenameOnto(const std::string& target) {
    if (rename(path_.c_str(), target.c_str()) != 0) Fail("cannot replace", target, errno);
    renamed_ = true;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool renamed_ = false;
};

// The file a store file name stands for: symbolic links are followed, a
// relative target from its link's folder, so a store replaces the target.
std::string LinkTarget(const std::string& path) {
  std::filesystem::path file(path);
  for (int links = 0; links < 40; ++links) {  // the kernel's own limit on a chain of links
    std::error_code notALink;
    const std::filesystem::path target = std::filesystem::read_symlink(file, notALink);
    if (notALink) return file.string();
    file = target.is_absolute() ? target : file.parent_path() / target;
  }
  Fail("cannot resolve", path, ELOOP);
}

// Makes the rename itself durable; a folder that cannot be synced is no failure
// of the store, the file is already in place.
void SyncFolderOf(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::optional<std::string> ReadStoreFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    Fail("cannot open", path, errno);
  }
  std::string content;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      Fail("cannot read", path, error);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return content;
}

void ReplaceStoreFile(const std::string& path, const std::string& content) {
  const std::string target = LinkTarget(path);
  TemporaryFile temporary(target);
  temporary.Write(content);
  temporary.KeepModeOf(target);
  temporary.SyncAndClose();
  temporary.RenameOnto(target);
  SyncFolderOf(target);
}

StoreFileLock::StoreFileLock(const std::string& path) {
  const std::string lockPath = LinkTarget(path) + ".lock";
  fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) Fail("cannot open", lockPath, errno);
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    close(fd_);
    Fail("cannot lock", lockPath, error);
  }
}

StoreFileLock::~StoreFileLock() {
  if (fd_ >= 0) close(fd_);  // closing the last descriptor releases the lock
}

StoreFileLock::StoreFileLock(StoreFileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
