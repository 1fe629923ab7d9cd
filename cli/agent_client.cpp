#include "cli/agent_client.h"

#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "station/failure.h"
#include "station/agent_protocol.h"
#include "station/text.h"

namespace tarvo_cli {

namespace {

// A write waits for the sign: long enough for a sign that answers nothing.
constexpr int kReplyBoundMs = 5 * 60 * 1000;

// `why` is the cause in the user's words.
[[noreturn]] void Lost(const std::string& why) {
  throw station::CliFailure(station::ExitStatus::kPortError,
                   station::Format("the agent at %s %s; see journalctl -u tarvo-agent", {AgentSocketPath(), why}));
}

std::string SocketGroup(const std::string& path) {
  struct stat info{};
  if (stat(path.c_str(), &info) != 0) return "tarvo";
  const group* entry = getgrgid(info.st_gid);
  return entry != nullptr ? entry->gr_name : std::to_string(info.st_gid);
}

}  // namespace

std::string AgentSocketPath() {
  const char* path = std::getenv("TARVO_AGENT_SOCKET");
  return path != nullptr && *path != '\0' ? path : "/run/tarvo/agent.sock";
}

std::optional<AgentClient> AgentClient::Connect() {
  const std::string path = AgentSocketPath();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return AgentClient(fd);
  const int error = errno;
  close(fd);
  if (error == EACCES || error == EPERM) {
    throw station::CliFailure(station::ExitStatus::kPortError,
                     station::Format("the agent at %s: permission denied; add the user to group %s and log in again",
                                     {path, SocketGroup(path)}));
  }
  // A socket nobody answers on is an agent that crashed or hangs: going to
  // the port behind its back would be undone by it once it is back.
  if (error != ENOENT) {
    throw station::CliFailure(station::ExitStatus::kPortError,
                     station::Format("the agent at %s does not answer (%s); see journalctl -u tarvo-agent, or "
                                     "use --direct to write the port itself",
                                     {path, std::strerror(error)}));
  }
  return std::nullopt;  // no agent installed or started
}

AgentClient::~AgentClient() {
  if (fd_ >= 0) close(fd_);
}

nlohmann::json AgentClient::Ask(const nlohmann::json& request) {
  const std::string line = station::agent_protocol::Line(request);
  for (size_t sent = 0; sent < line.size();) {
    const ssize_t n = send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Lost(station::Format("went away: %s", {std::strerror(errno)}));
    sent += static_cast<size_t>(n);
  }
  std::string reply;
  pollfd wait = {fd_, POLLIN, 0};
  while (reply.find('\n') == std::string::npos) {
    const int ready = poll(&wait, 1, kReplyBoundMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) Lost(station::Tr("did not answer"));
    char buffer[65536];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Lost(station::Tr("closed the connection"));
    reply.append(buffer, static_cast<size_t>(n));
  }
  const nlohmann::json document = nlohmann::json::parse(reply.substr(0, reply.find('\n')), nullptr, false);
  if (!document.is_object()) Lost(station::Tr("answered something that is not a reply"));
  return document;
}

}  // namespace tarvo_cli
