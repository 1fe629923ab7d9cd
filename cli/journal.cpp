#include "cli/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/failure.h"

namespace tarvo_cli {

namespace {

[[noreturn]] void WriteFailed(const std::string& path, int error) {
  throw CliFailure(ExitStatus::kPortError, "journal " + path + ": " + std::strerror(error) +
                                               "; the sign was written, the record was not");
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// True when the file is empty or ends with a line end.
bool EndsWithLineEnd(int fd) {
  char last = '\n';
  const off_t size = lseek(fd, 0, SEEK_END);
  return size <= 0 || pread(fd, &last, 1, size - 1) != 1 || last == '\n';
}

}  // namespace

std::string DefaultJournalPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string folder;
  if (state != nullptr && *state == '/') {
    folder = state;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr ? home : "") + "/.local/state";
  }
  return folder + "/tarvo/journal.jsonl";
}

void AppendJournalLine(const std::string& path, const std::string& line) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code made;
  if (!parent.empty()) std::filesystem::create_directories(parent, made);
  const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) WriteFailed(path, errno);
  const std::string text = (EndsWithLineEnd(fd) ? "" : "\n") + line + "\n";
  const bool written = WriteAll(fd, text) && fsync(fd) == 0;
  const int error = errno;
  close(fd);
  if (!written) WriteFailed(path, error);
}

JournalContents ReadJournal(const std::string& path) {
  JournalContents contents;
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) {
    if (errno == ENOENT) return contents;
    throw CliFailure(ExitStatus::kPortError, "journal " + path + ": " + std::strerror(errno));
  }
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad())
    throw CliFailure(ExitStatus::kPortError, "journal " + path + ": " + std::strerror(errno));
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    if (end > start) contents.lines.push_back(text.substr(start, end - start));
  }
  contents.tornTail = start < text.size();
  return contents;
}

}  // namespace tarvo_cli
