#pragma once
// tarvo-agent run as the service manager runs it: its own process with its
// own configuration, state folder, socket and clock offset file in the test's
// temporary folder; requests go through its real socket.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/wait_for.h"

namespace tarvo::test {

// The machine's clock in milliseconds since the epoch, as effective_at counts.
inline int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

struct AgentSetup {
  std::string port = "COM3";
  int verifyIntervalS = 300;
  std::string drift = "heal";
  int clientTimeoutS = 30;
};

// A killed program's exclusive hold on a terminal ends with the terminal's
// last close, as with a real adapter; the simulator keeps its terminal end
// open in this process, so the test ends the hold as that close would.
inline void EndExclusiveHold(const std::string& terminal) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) == terminal)
      ioctl(std::stoi(entry.path().filename().string()), TIOCNXCL);
  }
}

// A connection to a Unix socket; -1 when it was refused (errno tells why).
inline int ConnectUnix(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Sends the bytes and takes one reply line; "" when none came within the bound.
inline std::string Exchange(int fd, const std::string& bytes, int boundMs = 30000) {
  (void)!send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  std::string reply;
  pollfd wait = {fd, POLLIN, 0};
  while (reply.find('\n') == std::string::npos && poll(&wait, 1, boundMs) > 0) {
    char buffer[65536];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    reply.append(buffer, static_cast<size_t>(n));
  }
  return reply;
}

class AgentProcess {
 public:
  AgentProcess(const std::string& root, const AgentSetup& setup = {})
      : root_(root), socket_(root + "/agent.sock"), clockFile_(root + "/clock-offset") {
    std::ofstream(clockFile_) << 0 << '\n';
    Configure(setup);
  }
  ~AgentProcess() {
    if (pid_ > 0) Kill9();
  }
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  void Configure(const AgentSetup& setup) {
    std::ofstream config(Config());
    config << "# written by the test\nstation = \"test-station\"\nport = \"" << setup.port << "\"\n"
           << "verify_interval_s = " << setup.verifyIntervalS << "\ndrift = \"" << setup.drift << "\"\n"
           << "client_timeout_s = " << setup.clientTimeoutS << "\n"
           << "state_dir = \"" << root_ << "/agent-state\"\nsocket = \"" << socket_ << "\"\n"
           << "socket_group = \"root\"\n";
  }

  // Starts the program with extra environment; waitReady: until it answers on its socket.
  void Start(const std::map<std::string, std::string>& extraEnv = {}, bool waitReady = true) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) env.push_back(*entry);
    env.push_back("TARVO_AGENT_CLOCK_OFFSET_FILE=" + clockFile_);
    for (const auto& [name, value] : extraEnv) env.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = TARVO_AGENT_PROGRAM;
    std::string flag = "--config";
    std::string config = Config();
    char* argv[] = {program.data(), flag.data(), config.data(), nullptr};
    const int log = open(LogPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      dup2(log, 1);
      dup2(log, 2);
      execve(argv[0], argv, envp.data());
      _exit(126);
    }
    close(log);
    if (waitReady && !WaitFor([this] { return Answers(); }, std::chrono::seconds(20)))
      throw std::runtime_error("the agent did not answer on its socket: " + Log());
  }
  void Kill9() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // SIGTERM; the exit status.
  int Stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // Waits for an agent that ended by itself; its exit status.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  nlohmann::json Request(const nlohmann::json& request) { return RequestLine(request.dump() + "\n"); }
  nlohmann::json RequestLine(const std::string& bytes) {
    const int fd = ConnectUnix(socket_);
    if (fd < 0) return nullptr;
    const std::string reply = Exchange(fd, bytes);
    close(fd);
    return nlohmann::json::parse(reply, nullptr, false);
  }
  nlohmann::json Events() { return Request({{"op", "history"}})["events"]; }
  size_t CountEvents(const std::string& kind) {
    size_t count = 0;
    for (const auto& event : Events()) count += event["kind"] == kind ? 1 : 0;
    return count;
  }
  // The agent's clock this far ahead of the machine's.
  void SetClockOffsetMs(int64_t offset) { std::ofstream(clockFile_) << offset << '\n'; }

  std::string Log() const {
    std::ifstream file(LogPath());
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  const std::string& Socket() const { return socket_; }
  pid_t Pid() const { return pid_; }
  std::string Config() const { return root_ + "/agent.toml"; }
  std::string StateDir() const { return root_ + "/agent-state"; }
  std::string LogPath() const { return root_ + "/agent.log"; }

 private:
  bool Answers() {
    const nlohmann::json status = Request({{"op", "status"}});
    return status.is_object() && status.value("ok", false);
  }

  std::string root_;
  std::string socket_;
  std::string clockFile_;
  pid_t pid_ = -1;
};

}  // namespace tarvo::test
