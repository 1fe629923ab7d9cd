#pragma once
// Runs the built tarvo-cli as its own process, as a script would, and takes
// its stdout, stderr and exit status; optionally as another user.

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
#include <vector>

namespace tarvo::test {

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
  long maxRssKb = 0;  // the program's peak memory
};

// How the child differs from the test: another user (its group of the same
// number, no other groups), environment variables taken away, a limit on
// the size of the files it writes (SIGXFSZ ignored, so a write meets
// EFBIG as a full disk's ENOSPC).
struct ChildSetup {
  std::optional<uid_t> uid;
  std::vector<std::string> unset;
  std::optional<rlim_t> fileSizeLimit;
  std::optional<std::string> stdoutFile;  // stdout goes there, not to the test
  bool stdoutReaderGone = false;          // stdout is a pipe nobody reads any more
  std::vector<std::string> set;           // "NAME=value"
};

class CliProcess {
  static ChildSetup WithUid(std::optional<uid_t> uid) {
    ChildSetup setup;
    setup.uid = uid;
    return setup;
  }

 public:
  // Starts tarvo-cli with the arguments; with a uid, the child drops to that
  // user (its group of the same number, no other groups) before it runs the
  // program.
  explicit CliProcess(const std::vector<std::string>& args,
                      std::optional<uid_t> uid = std::nullopt)
      : CliProcess(args, WithUid(uid)) {}
  CliProcess(const std::vector<std::string>& args, const ChildSetup& setup) {
    const std::optional<uid_t> uid = setup.uid;
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
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> line = {TARVO_CLI_PROGRAM};
    line.insert(line.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : line) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    if (setup.stdoutFile) {
      const int file = open(setup.stdoutFile->c_str(), O_WRONLY | O_CLOEXEC);
      if (file < 0) throw std::runtime_error("cannot open " + *setup.stdoutFile);
      dup3(file, out[1], O_CLOEXEC);
      close(file);
    }
    if (setup.stdoutReaderGone) {
      // The test still reads an empty stream from the other end.
      int gone[2];
      if (pipe2(gone, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      close(gone[0]);
      dup3(gone[1], out[1], O_CLOEXEC);
      close(gone[1]);
    }
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      // Only calls that are safe after fork in a process with threads.
      dup2(out[1], 1);
      dup2(err[1], 2);
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
  ~CliProcess() {
    if (pid_ > 0) Finish();
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  void Signal(int signal) const { kill(pid_, signal); }

  // Takes everything the program writes until it ends, and its status.
  CliResult Finish() {
    CliResult result;
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
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

inline CliResult RunCli(const std::vector<std::string>& args,
                        std::optional<uid_t> uid = std::nullopt) {
  return CliProcess(args, uid).Finish();
}

inline CliResult RunCli(const std::vector<std::string>& args, const ChildSetup& setup) {
  return CliProcess(args, setup).Finish();
}

}  // namespace tarvo::test
