#include "sim/device_pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace sign_sim {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

DevicePty::DevicePty(DevicePty&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      keepTerminal_(std::exchange(other.keepTerminal_, -1)),
      terminalPath_(std::move(other.terminalPath_)) {}

DevicePty& DevicePty::operator=(DevicePty&& other) noexcept {
  if (this != &other) {
    Close();
    master_ = std::exchange(other.master_, -1);
    keepTerminal_ = std::exchange(other.keepTerminal_, -1);
    terminalPath_ = std::move(other.terminalPath_);
  }
  return *this;
}

DevicePty DevicePty::Open() {
  DevicePty pty;
  pty.master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (pty.master_ < 0) ThrowErrno("posix_openpt");
  if (grantpt(pty.master_) != 0 || unlockpt(pty.master_) != 0) ThrowErrno("unlockpt");
  char name[128];
  if (ptsname_r(pty.master_, name, sizeof name) != 0) ThrowErrno("ptsname_r");
  pty.terminalPath_ = name;
  pty.keepTerminal_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (pty.keepTerminal_ < 0) ThrowErrno("open terminal end");
  termios raw{};
  if (tcgetattr(pty.keepTerminal_, &raw) != 0) ThrowErrno("tcgetattr");
  cfmakeraw(&raw);
  if (tcsetattr(pty.keepTerminal_, TCSANOW, &raw) != 0) ThrowErrno("tcsetattr");
  return pty;
}

void DevicePty::Close() {
  if (keepTerminal_ >= 0) close(keepTerminal_);
  if (master_ >= 0) close(master_);
  keepTerminal_ = -1;
  master_ = -1;
}

void PublishLink(const std::string& link, const std::string& target) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::symlink_status(link, error);
  if (fs::exists(status) && !fs::is_symlink(status)) {
    throw std::runtime_error(link + " exists and is not a symbolic link");
  }
  // A fresh link under a private name, renamed over the old one: the name
  // never goes missing in between.
  const fs::path name(link);
  const fs::path temporary =
      name.parent_path() / ("." + name.filename().string() + ".new-" + std::to_string(getpid()));
  fs::remove(temporary, error);
  fs::create_symlink(target, temporary);
  fs::rename(temporary, link);
}

void RemoveLink(const std::string& link, const std::string& target) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_symlink(fs::symlink_status(link, error))) return;
  if (fs::read_symlink(link, error) == fs::path(target)) fs::remove(link, error);
}

}  // namespace sign_sim
