#include "serial/store/store_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

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
  // The replacement must not take the file over: it gets the owner and group
  // of the file it replaces (a file shared by several users through its
  // group stays theirs), and then its mode. A process that may not give it
  // that owner and group stores nothing: replacing the file in place instead
  // would give up the atomic replacement.
  void KeepOwnerAndModeOf(const std::string& target) {
    struct stat old {};
    if (stat(target.c_str(), &old) != 0) return;
    if (fchown(fd_, old.st_uid, old.st_gid) != 0) {
      Fail("cannot keep the owner and group (" + std::to_string(old.st_uid) + ":" +
               std::to_string(old.st_gid) + ") of",
           target, errno);
    }
    if (fchmod(fd_, old.st_mode & 07777) != 0) Fail("cannot set the mode of", path_, errno);
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

// Far above any real store file, which holds a few keys of a few lines each.
constexpr size_t kLargestStoreFile = 1 << 20;

// Opens a store file, which must be a regular file: anything else (a FIFO
// that would block, a device that would never end or wakes when opened) is
// refused before it is opened, and once more on the descriptor should the name
// have been turned elsewhere meanwhile. Returns -1 for a missing file, unless
// flags create it, or for an existing file when they create it exclusively.
int OpenRegularFile(const std::string& path, int flags) {
  struct stat info {};
  const auto refuse = [&] { throw SettingsStoreError("not a regular file: " + path); };
  if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) refuse();
  const int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    const bool creating = (flags & O_CREAT) != 0;
    if ((errno == ENOENT && !creating) || (errno == EEXIST && creating)) return -1;
    Fail("cannot open", path, errno);
  }
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    refuse();
  }
  return fd;
}

// Whether path still names the file open as fd.
bool NamesFileOf(const std::string& path, int fd) {
  struct stat named {};
  struct stat open {};
  return stat(path.c_str(), &named) == 0 && fstat(fd, &open) == 0 && named.st_dev == open.st_dev &&
         named.st_ino == open.st_ino;
}

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

// Makes a new entry of the folder holding path durable: a renamed file, a new
// folder. A folder that cannot be synced is no failure of the store: the
// entry is already in place.
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
  const int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || content.size() + static_cast<size_t>(n) > kLargestStoreFile) {
      const int error = n < 0 ? errno : EFBIG;
      close(fd);
      Fail("cannot read", path, error);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return content;
}

void CreateStoreFolders(const std::string& file) {
  std::vector<std::filesystem::path> missing;
  struct stat info {};
  for (std::filesystem::path folder = std::filesystem::path(file).parent_path();
       !folder.empty() && stat(folder.c_str(), &info) != 0 && errno == ENOENT;
       folder = folder.parent_path()) {
    missing.push_back(folder);
  }
  for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
    if (mkdir(folder->c_str(), 0777) != 0 && errno != EEXIST) {
      Fail("cannot create the folder", folder->string(), errno);
    }
    SyncFolderOf(folder->string());
  }
}

void ReplaceStoreFile(const std::string& path, const std::string& content) {
  const std::string target = LinkTarget(path);
  TemporaryFile temporary(target);
  temporary.Write(content);
  temporary.KeepOwnerAndModeOf(target);
  temporary.SyncAndClose();
  temporary.RenameOnto(target);
  SyncFolderOf(target);
}

StoreFileLock::StoreFileLock(const std::string& path) : path_(LinkTarget(path)) {
  // A store replaces the file, so the lock taken may be on a file that has
  // been replaced meanwhile: then the lock is taken again on the new one.
  for (;;) {
    fd_ = OpenRegularFile(path_, O_RDWR);
    if (fd_ < 0) {
      fd_ = OpenRegularFile(path_, O_RDWR | O_CREAT | O_EXCL);
      if (fd_ < 0) continue;  // another store created it first
      created_ = true;
    }
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      close(fd_);
      Fail("cannot lock", path_, error);
    }
    if (NamesFileOf(path_, fd_)) return;
    close(fd_);
    created_ = false;
  }
}

StoreFileLock::~StoreFileLock() {
  if (fd_ < 0) return;
  // A first store that failed leaves no empty file behind.
  struct stat info {};
  if (created_ && fstat(fd_, &info) == 0 && info.st_size == 0 && NamesFileOf(path_, fd_)) {
    unlink(path_.c_str());
  }
  close(fd_);  // closing the last descriptor releases the lock
}

StoreFileLock::StoreFileLock(StoreFileLock&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_), created_(other.created_) {
  other.fd_ = -1;
}
