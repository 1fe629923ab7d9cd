#pragma once
// The control socket: a Unix stream socket, mode 0660 and the configured
// group, one JSON request a line (station/agent_protocol.h). Every socket is
// non-blocking with its own buffers and a bound on their size, and the number
// of connections is limited, so a silent or slow client never holds up the
// agent. Each request's user comes from the peer's credentials.

#include <systemd/sd-event.h>

#include <memory>
#include <string>

#include "agent/agent_config.h"
#include "agent/agent_core.h"
#include "station/agent_protocol.h"

namespace agent {

class ControlServer {
 public:
  // Binds and listens; a stale socket file is replaced. Throws std::system_error.
  ControlServer(sd_event* loop, const AgentConfig& config, AgentCore& core);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  static constexpr size_t kMaxConnections = 32;
  // Replies a client leaves unread beyond this close its connection.
  static constexpr size_t kMaxOutputBytes = 8 * 1024 * 1024;

 private:
  struct Connection;
  static int OnAccept(sd_event_source* source, int fd, uint32_t events, void* self);
  static int OnConnection(sd_event_source* source, int fd, uint32_t events, void* self);
  void Handle(const std::shared_ptr<Connection>& connection, const std::string& line);
  void Dispatch(const station::agent_protocol::Request& request, const std::string& user, const Reply& reply);
  void Flush(Connection& connection);
  void Close(Connection& connection);

  sd_event* loop_;
  AgentCore& core_;
  std::string path_;
  int listenFd_ = -1;
  sd_event_source* listenSource_ = nullptr;
  std::vector<std::shared_ptr<Connection>> connections_;
};

}  // namespace agent
