#include "agent/control_server.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "agent/agent_log.h"
#include "station/agent_protocol.h"

namespace agent {

namespace protocol = station::agent_protocol;
using nlohmann::json;

struct ControlServer::Connection {
  int fd = -1;
  sd_event_source* source = nullptr;
  std::string user;
  std::string input;
  std::string output;
  size_t owed = 0;          // requests taken, not yet answered
  bool readClosed = false;  // the client sent all it will (EOF)
  bool closeWhenFlushed = false;
  bool closed = false;
  uint64_t lastActiveUsec = 0;

  bool HasLine() const { return input.find('\n') != std::string::npos; }
};

namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

std::string PeerUser(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return "unknown";
  const passwd* entry = getpwuid(credentials.uid);
  return entry != nullptr ? entry->pw_name : "uid " + std::to_string(credentials.uid);
}

// Below the loop's own work (timers, the sign worker's results, the
// watchdog): a client is served when nothing of that waits.
constexpr int64_t kClientPriority = SD_EVENT_PRIORITY_NORMAL + 10;

uint64_t Now(sd_event* loop) {
  uint64_t now = 0;
  sd_event_now(loop, CLOCK_MONOTONIC, &now);
  return now;
}

// Only a socket file on which nobody answers is a crashed agent's, to be
// replaced; a live agent's socket or any other file stays where it is.
void ClearStaleSocket(const std::string& path, const sockaddr_un& address) {
  struct stat info{};
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return;
    Fail("socket " + path);
  }
  if (!S_ISSOCK(info.st_mode))
    throw std::runtime_error("socket " + path + ": a file that is not a socket is there; remove it or set socket");
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) Fail("socket");
  const int connected = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = errno;
  close(probe);
  if (connected == 0)
    throw std::runtime_error("socket " + path + ": another agent answers there; stop it, or set socket");
  if (error != ECONNREFUSED) {
    errno = error;
    Fail("socket " + path);
  }
  if (unlink(path.c_str()) != 0 && errno != ENOENT) Fail("removing the stale socket " + path);
}

}  // namespace

ControlServer::ControlServer(sd_event* loop, const AgentConfig& config, AgentCore& core)
    : loop_(loop),
      core_(core),
      path_(config.socket),
      idleTimeoutUsec_(static_cast<uint64_t>(config.clientTimeoutS) * 1000000) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    Fail("socket " + path_);
  }
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  ClearStaleSocket(path_, address);
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) Fail("socket");
  // Made without permissions, then opened to the group: no moment in which others may connect.
  const mode_t old = umask(0777);
  const int bound = bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  umask(old);
  if (bound != 0) Fail("binding the socket " + path_);
  if (chown(path_.c_str(), static_cast<uid_t>(-1), config.socketGid) != 0) Fail("giving " + path_ + " to its group");
  if (chmod(path_.c_str(), 0660) != 0) Fail("chmod " + path_);
  if (listen(listenFd_, 16) != 0) Fail("listen on " + path_);
  int result = sd_event_add_io(loop, &listenSource_, listenFd_, EPOLLIN, &ControlServer::OnAccept, this);
  if (result >= 0) result = sd_event_add_defer(loop, &turn_, &ControlServer::OnTurn, this);
  if (result >= 0) result = sd_event_source_set_enabled(turn_, SD_EVENT_OFF);
  if (result >= 0) result = sd_event_source_set_priority(listenSource_, kClientPriority);
  if (result >= 0) result = sd_event_source_set_priority(turn_, kClientPriority);
  if (result < 0) {
    errno = -result;
    Fail("watching " + path_);
  }
}

ControlServer::~ControlServer() {
  const auto open = std::move(connections_);
  for (const auto& connection : open) Close(*connection);
  sd_event_source_disable_unref(listenSource_);
  sd_event_source_disable_unref(turn_);
  sd_event_source_disable_unref(idleCheck_);
  close(listenFd_);
  unlink(path_.c_str());
}

int ControlServer::OnAccept(sd_event_source*, int fd, uint32_t, void* self) {
  auto* server = static_cast<ControlServer*>(self);
  // A few at a time: a crowd at the door waits its turn like everyone else.
  for (int taken = 0; taken < 8; ++taken) {
    const int client = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) return 0;  // EAGAIN: all taken; anything else: the client's trouble
    if (server->connections_.size() >= kMaxConnections) {
      const std::string line = protocol::Line(protocol::ErrorReply("too many connections; try again"));
      (void)!send(client, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      close(client);
      continue;
    }
    auto connection = std::make_shared<Connection>();
    connection->fd = client;
    connection->user = PeerUser(client);
    connection->lastActiveUsec = Now(server->loop_);
    if (sd_event_add_io(server->loop_, &connection->source, client, EPOLLIN, &ControlServer::OnConnection,
                        server) < 0 ||
        sd_event_source_set_priority(connection->source, kClientPriority) < 0) {
      sd_event_source_disable_unref(connection->source);
      close(client);
      continue;
    }
    server->connections_.push_back(connection);
    server->ArmIdleCheck();
  }
  return 0;
}

int ControlServer::OnConnection(sd_event_source* source, int, uint32_t events, void* self) {
  auto* server = static_cast<ControlServer*>(self);
  const auto found = std::find_if(server->connections_.begin(), server->connections_.end(),
                                  [source](const auto& c) { return c->source == source; });
  if (found == server->connections_.end()) return 0;
  const std::shared_ptr<Connection> connection = *found;
  if (events & EPOLLOUT) server->Flush(*connection);
  if (connection->closed) return 0;
  if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) server->Receive(*connection);
  if (!connection->closed) server->Update(*connection);
  return 0;
}

// One read of what the client sent; its requests wait for their turns.
void ControlServer::Receive(Connection& connection) {
  char buffer[16384];
  const ssize_t n = recv(connection.fd, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  connection.lastActiveUsec = Now(loop_);
  if (n < 0) {
    // Reset by the client; replies still owed to it are dropped.
    Close(connection);
    return;
  }
  if (n == 0) {
    // Half-closed: what it sent is still answered, a last line without its newline too.
    connection.readClosed = true;
    if (!connection.input.empty() && connection.input.back() != '\n') connection.input += '\n';
    return;
  }
  connection.input.append(buffer, static_cast<size_t>(n));
  if (!connection.HasLine() && connection.input.size() >= protocol::kMaxRequestBytes) {
    // No newline in sight: the rest cannot be read as requests any more.
    connection.input.clear();
    connection.output += protocol::Line(protocol::ErrorReply(
        "bad request: longer than " + std::to_string(protocol::kMaxRequestBytes) + " bytes"));
    connection.closeWhenFlushed = true;
    Flush(connection);
  }
}

// One request of each client that has one, then the loop's other work.
int ControlServer::OnTurn(sd_event_source*, void* self) {
  auto* server = static_cast<ControlServer*>(self);
  const auto turn = server->connections_;
  for (const std::shared_ptr<Connection>& connection : turn) {
    if (connection->closed || connection->closeWhenFlushed || !connection->HasLine()) continue;
    const size_t end = connection->input.find('\n');
    const std::string line = connection->input.substr(0, end);
    connection->input.erase(0, end + 1);
    server->Handle(connection, line);
    if (!connection->closed) server->Update(*connection);
  }
  const bool more = std::any_of(server->connections_.begin(), server->connections_.end(),
                                [](const auto& c) { return !c->closeWhenFlushed && c->HasLine(); });
  sd_event_source_set_enabled(server->turn_, more ? SD_EVENT_ON : SD_EVENT_OFF);
  return 0;
}

void ControlServer::Handle(const std::shared_ptr<Connection>& connection, const std::string& line) {
  const std::weak_ptr<Connection> weak = connection;
  ++connection->owed;
  const Reply reply = [this, weak](const json& document) {
    const std::shared_ptr<Connection> alive = weak.lock();
    if (!alive || alive->closed) return;
    --alive->owed;
    alive->output += protocol::Line(document);
    Flush(*alive);
    if (!alive->closed) Update(*alive);
  };
  protocol::Request request;
  try {
    request = protocol::ParseRequest(line);
  } catch (const std::exception& error) {
    Log(LOG_NOTICE, "refused a request of " + connection->user + ": " + error.what());
    reply(protocol::ErrorReply(error.what()));
    return;
  }
  try {
    Dispatch(request, connection->user, reply);
  } catch (const std::exception& error) {
    // Nothing leaves into the loop: the client hears of it, the agent goes on.
    Log(LOG_ERR, std::string("a request failed: ") + error.what());
    reply(protocol::ErrorReply(error.what()));
  }
}

void ControlServer::Dispatch(const station::agent_protocol::Request& request, const std::string& user,
                             const Reply& reply) {
  switch (request.op) {
    case protocol::Op::kWrite:
      core_.Submit({user, std::nullopt, request.panels, request.brightness, request.effectiveAt}, reply);
      break;
    case protocol::Op::kRead:
      core_.Read(reply);
      break;
    case protocol::Op::kStatus:
      reply(core_.Status());
      break;
    case protocol::Op::kSchedule:
      reply(core_.Schedule());
      break;
    case protocol::Op::kCancel:
      core_.Cancel(request.id, user, reply);
      break;
    case protocol::Op::kHistory:
      reply(core_.History(request.since.value_or(0)));
      break;
  }
}

void ControlServer::Flush(Connection& connection) {
  while (!connection.output.empty()) {
    const ssize_t n = send(connection.fd, connection.output.data(), connection.output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0) {
      Close(connection);
      return;
    }
    connection.lastActiveUsec = Now(loop_);
    connection.output.erase(0, static_cast<size_t>(n));
  }
  if (connection.output.size() > kMaxOutputBytes) Close(connection);
}

void ControlServer::Update(Connection& connection) {
  const bool answered = connection.output.empty() && connection.owed == 0;
  if (answered && (connection.closeWhenFlushed || (connection.readClosed && !connection.HasLine()))) {
    Close(connection);
    return;
  }
  // Reads stop while a request waits for its turn or too many wait for
  // replies: the rest stays in the kernel's buffer, and the client waits.
  const bool read = !connection.readClosed && !connection.closeWhenFlushed && !connection.HasLine() &&
                    connection.owed < kMaxOwed;
  const uint32_t events = (read ? uint32_t{EPOLLIN} : 0u) | (connection.output.empty() ? 0u : uint32_t{EPOLLOUT});
  if (events != 0) sd_event_source_set_io_events(connection.source, events);
  // A hang-up is reported even without interest: watching nothing keeps it from waking the loop.
  sd_event_source_set_enabled(connection.source, events != 0 ? SD_EVENT_ON : SD_EVENT_OFF);
  if (connection.HasLine() && !connection.closeWhenFlushed) sd_event_source_set_enabled(turn_, SD_EVENT_ON);
}

void ControlServer::Close(Connection& connection) {
  if (connection.closed) return;
  connection.closed = true;
  sd_event_source_disable_unref(connection.source);
  connection.source = nullptr;
  close(connection.fd);
  std::erase_if(connections_, [&connection](const auto& c) { return c.get() == &connection; });
}

void ControlServer::ArmIdleCheck() {
  if (idleCheck_ != nullptr) return;
  sd_event_add_time_relative(loop_, &idleCheck_, CLOCK_MONOTONIC, idleTimeoutUsec_ / 4 + 1, 0,
                             &ControlServer::OnIdleCheck, this);
}

// A client that neither asks nor waits for a reply past the timeout gives
// its place to others.
int ControlServer::OnIdleCheck(sd_event_source*, uint64_t, void* self) {
  auto* server = static_cast<ControlServer*>(self);
  sd_event_source_disable_unref(server->idleCheck_);
  server->idleCheck_ = nullptr;
  const uint64_t now = Now(server->loop_);
  const auto all = server->connections_;
  for (const std::shared_ptr<Connection>& connection : all) {
    const bool waiting = connection->owed > 0 || !connection->output.empty() || connection->HasLine();
    if (!waiting && now - connection->lastActiveUsec >= server->idleTimeoutUsec_) {
      Log(LOG_NOTICE, "let go of an idle client of " + connection->user);
      server->Close(*connection);
    }
  }
  if (!server->connections_.empty()) server->ArmIdleCheck();
  return 0;
}

}  // namespace agent
