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
  bool closeWhenFlushed = false;
  bool closed = false;
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

}  // namespace

ControlServer::ControlServer(sd_event* loop, const AgentConfig& config, AgentCore& core)
    : loop_(loop), core_(core), path_(config.socket) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    Fail("socket " + path_);
  }
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) Fail("socket");
  unlink(path_.c_str());
  // Made without permissions, then opened to the group: no moment in which others may connect.
  const mode_t old = umask(0777);
  const int bound = bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  umask(old);
  if (bound != 0) Fail("binding the socket " + path_);
  if (chown(path_.c_str(), static_cast<uid_t>(-1), config.socketGid) != 0) Fail("giving " + path_ + " to its group");
  if (chmod(path_.c_str(), 0660) != 0) Fail("chmod " + path_);
  if (listen(listenFd_, 16) != 0) Fail("listen on " + path_);
  const int result = sd_event_add_io(loop, &listenSource_, listenFd_, EPOLLIN, &ControlServer::OnAccept, this);
  if (result < 0) {
    errno = -result;
    Fail("watching " + path_);
  }
}

ControlServer::~ControlServer() {
  const auto open = std::move(connections_);
  for (const auto& connection : open) Close(*connection);
  sd_event_source_disable_unref(listenSource_);
  close(listenFd_);
  unlink(path_.c_str());
}

int ControlServer::OnAccept(sd_event_source*, int fd, uint32_t, void* self) {
  auto* server = static_cast<ControlServer*>(self);
  for (;;) {
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
    if (sd_event_add_io(server->loop_, &connection->source, client, EPOLLIN, &ControlServer::OnConnection,
                        server) < 0) {
      close(client);
      continue;
    }
    server->connections_.push_back(connection);
  }
}

int ControlServer::OnConnection(sd_event_source* source, int fd, uint32_t events, void* self) {
  auto* server = static_cast<ControlServer*>(self);
  const auto found = std::find_if(server->connections_.begin(), server->connections_.end(),
                                  [source](const auto& c) { return c->source == source; });
  if (found == server->connections_.end()) return 0;
  const std::shared_ptr<Connection> connection = *found;
  if (events & EPOLLOUT) server->Flush(*connection);
  if (connection->closed || !(events & (EPOLLIN | EPOLLHUP | EPOLLERR))) return 0;
  char buffer[4096];
  for (;;) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      // The client went away; replies still owed to it are dropped.
      server->Close(*connection);
      return 0;
    }
    connection->input.append(buffer, static_cast<size_t>(n));
    for (size_t end; !connection->closeWhenFlushed && (end = connection->input.find('\n')) != std::string::npos;) {
      const std::string line = connection->input.substr(0, end);
      connection->input.erase(0, end + 1);
      server->Handle(connection, line);
      if (connection->closed) return 0;
    }
    if (connection->input.size() >= protocol::kMaxRequestBytes) {
      // No newline in sight: the rest cannot be read as requests any more.
      connection->input.clear();
      connection->output += protocol::Line(protocol::ErrorReply(
          "bad request: longer than " + std::to_string(protocol::kMaxRequestBytes) + " bytes"));
      connection->closeWhenFlushed = true;
      server->Flush(*connection);
      return 0;
    }
    if (connection->closeWhenFlushed) return 0;
  }
  return 0;
}

void ControlServer::Handle(const std::shared_ptr<Connection>& connection, const std::string& line) {
  const std::weak_ptr<Connection> weak = connection;
  const Reply reply = [this, weak](const json& document) {
    const std::shared_ptr<Connection> alive = weak.lock();
    if (!alive || alive->closed) return;
    alive->output += protocol::Line(document);
    Flush(*alive);
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
    connection.output.erase(0, static_cast<size_t>(n));
  }
  if ((connection.output.empty() && connection.closeWhenFlushed) || connection.output.size() > kMaxOutputBytes) {
    Close(connection);
    return;
  }
  // A reader that does not read holds only its own buffer; wake when it drains.
  sd_event_source_set_io_events(connection.source, connection.output.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT);
}

void ControlServer::Close(Connection& connection) {
  if (connection.closed) return;
  connection.closed = true;
  sd_event_source_disable_unref(connection.source);
  connection.source = nullptr;
  close(connection.fd);
  std::erase_if(connections_, [&connection](const auto& c) { return c.get() == &connection; });
}

}  // namespace agent
