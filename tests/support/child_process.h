#pragma once
// Runs a program as its own process, as a script would, and takes its stdout,
// stderr, exit status and peak memory; optionally as another user, with
// another environment, a limit on file sizes or another stdout.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
  long maxRssKb = 0;  // the program's peak memory
};

// How the child differs from the test: another user (its group of the same
// number, no other groups), environment variables taken away or set, a
// limit on the size of the files it writes (SIGXFSZ ignored, so a write
// meets EFBIG as on a full disk), stdout to a file or to a pipe nobody reads.
struct ChildSetup {
  std::optional<uid_t> uid;
  std::vector<std::string> unset;
  std::vector<std::string> set;  // "NAME=value"
  std::optional<rlim_t> fileSizeLimit;
  std::optional<std::string> stdoutFile;
  bool stdoutReaderGone = false;
};

class ChildProcess {
 public:
  // Starts the program line[0] with the rest as its arguments.
  explicit ChildProcess(std::vector<std::string> line, std::optional<uid_t> uid = std::nullopt)
      : ChildProcess(std::move(line), WithUid(uid)) {}
  ChildProcess(std::vector<std::string> line, const ChildSetup& setup) {
    std::vector<char*> argv;
    for (std::string& arg : line) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = Environment(setup);
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    // The test then reads an empty stdout from the pipe's other end.
    if (setup.stdoutFile) Replace(out[1], open(setup.stdoutFile->c_str(), O_WRONLY | O_CLOEXEC));
    if (setup.stdoutReaderGone) {
      int gone[2];
      if (pipe2(gone, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      close(gone[0]);
      Replace(out[1], gone[1]);
    }
    const std::optional<uid_t> uid = setup.uid;
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      // Only calls that are safe after fork in a process with threads.
      dup2(out[1], 1);
      dup2(err[1], 2);
      // Nothing else of the test's: its connections stay its own.
      close_range(3, ~0U, 0);
      if (uid && (setgroups(0, nullptr) != 0 || setgid(*uid) != 0 || setuid(*uid) != 0)) _exit(125);
      if (setup.fileSizeLimit) {
        const rlimit limit{*setup.fileSizeLimit, *setup.fileSizeLimit};
        signal(SIGXFSZ, SIG_IGN);
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
      }
      execve(argv[0], argv.data(), envp.data());
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

  void Signal(int signal) const { kill(pid_, signal); }
  pid_t Pid() const { return pid_; }

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
    rusage usage{};
    wait4(pid_, &status, 0, &usage);
    result.maxRssKb = usage.ru_maxrss;
    pid_ = -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
  }

 private:
  static ChildSetup WithUid(std::optional<uid_t> uid) {
    ChildSetup setup;
    setup.uid = uid;
    return setup;
  }
  static std::vector<std::string> Environment(const ChildSetup& setup) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string variable = *entry;
      const std::string name = variable.substr(0, variable.find('='));
      const auto named = [&name](const std::string& other) {
        return other == name || other.rfind(name + "=", 0) == 0;
      };
      if (std::none_of(setup.unset.begin(), setup.unset.end(), named) &&
          std::none_of(setup.set.begin(), setup.set.end(), named))
        variables.push_back(variable);
    }
    variables.insert(variables.end(), setup.set.begin(), setup.set.end());
    return variables;
  }
  // Puts `fd` where `end` was (keeping close-on-exec).
  static void Replace(int end, int fd) {
    if (fd < 0) throw std::runtime_error("cannot open the child's stdout");
    dup3(fd, end, O_CLOEXEC);
    close(fd);
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

// The program line[0] with its arguments, to its end.
inline ProcessResult RunProgram(std::vector<std::string> line) {
  return ChildProcess(std::move(line)).Finish();
}

}  // namespace tarvo::test
