#pragma once
// The control socket: a Unix stream socket, mode 0660 and the configured
// group, one JSON request a line (station/agent_protocol.h). Every socket is
// non-blocking with its own buffers and a bound on their size, and the number
// of connections is limited. The loop serves the clients in turns, one
// request of each per turn, so no client holds up another, a due change or
// the watchdog; a client idle past the timeout is let go; a client that
// half-closes still gets every reply it is owed. Each request's user comes
// from the peer's credentials.

#include <systemd/sd-event.h>

#include <memory>
#include <string>

#include "agent/agent_config.h"
#include "agent/agent_core.h"
#include "station/agent_protocol.h"

namespace agent {

class ControlServer {
 public:
  // Binds and listens. A socket file left by a crashed agent (nobody answers
  // on it) is replaced; anything else at the path is refused. Throws
  // std::system_error or std::runtime_error.
  ControlServer(sd_event* loop, const AgentConfig& config, AgentCore& core);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  static constexpr size_t kMaxConnections = 32;
  // Replies a client leaves unread beyond this close its connection.
  static constexpr size_t kMaxOutputBytes = 8 * 1024 * 1024;
  // Requests of one client waiting for their replies; beyond it the agent
  // reads no more of that client until some are answered.
  static constexpr size_t kMaxOwed = 64;

 private:
  struct Connection;
  static int OnAccept(sd_event_source* source, int fd, uint32_t events, void* self);
  static int OnConnection(sd_event_source* source, int fd, uint32_t events, void* self);
  static int OnTurn(sd_event_source* source, void* self);
  static int OnIdleCheck(sd_event_source* source, uint64_t usec, void* self);
  void Receive(Connection& connection);
  void Handle(const std::shared_ptr<Connection>& connection, const std::string& line);
  void Dispatch(const station::agent_protocol::Request& request, const std::string& user, const Reply& reply);
  void Flush(Connection& connection);
  // Watches what the connection can take now; closes it when it is done.
  void Update(Connection& connection);
  void Close(Connection& connection);
  void ArmIdleCheck();

  sd_event* loop_;
  AgentCore& core_;
  std::string path_;
  uint64_t idleTimeoutUsec_;
  int listenFd_ = -1;
  sd_event_source* listenSource_ = nullptr;
  sd_event_source* turn_ = nullptr;
  sd_event_source* idleCheck_ = nullptr;
  std::vector<std::shared_ptr<Connection>> connections_;
};

}  // namespace agent
