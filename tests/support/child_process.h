#pragma once
// Runs a program as its own process, as a script would, and takes its stdout,
// stderr and exit status; optionally as another user.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::test {

struct ProcessResult {
  int status = -1;
  std::string out;
  std::string err;
};

class ChildProcess {
 public:
  // Starts the program line[0] with the rest as its arguments; with a uid, the
  // child drops to that user (its group of the same number, no other groups)
  // before it runs the program.
  explicit ChildProcess(std::vector<std::string> line, std::optional<uid_t> uid = std::nullopt) {
    std::vector<char*> argv;
    for (std::string& arg : line) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      // Only calls that are safe after fork in a process with threads.
      dup2(out[1], 1);
      dup2(err[1], 2);
      // Nothing else of the test's: its connections stay its own.
      close_range(3, ~0U, 0);
      if (uid && (setgroups(0, nullptr) != 0 || setgid(*uid) != 0 || setuid(*uid) != 0)) _exit(125);
      execv(argv[0], argv.data());
      _exit(126);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~ChildProcess() {
    if (pid_ > 0) Finish();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Takes everything the program writes until it ends, and its status.
  ProcessResult Finish() {
    ProcessResult result;
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    std::string* into[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
      if (poll(fds, 2, 30000) <= 0) break;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          into[i]->append(buffer, static_cast<size_t>(n));
        } else {
          close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        }
      }
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

// The program line[0] with its arguments, to its end.
inline ProcessResult RunProgram(std::vector<std::string> line) {
  return ChildProcess(std::move(line)).Finish();
}

}  // namespace tarvo::test
