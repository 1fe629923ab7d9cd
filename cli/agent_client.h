#pragma once
// tarvo-cli as tarvo-agent's client: the socket at $TARVO_AGENT_SOCKET (else
// /run/tarvo/agent.sock), one request and its reply line, the documents of
// station/agent_protocol.h.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace tarvo_cli {

std::string AgentSocketPath();

class AgentClient {
 public:
  // Nothing when there is no socket. A socket that refuses the user is a
  // failure (port error) naming the group to join; one that refuses the
  // connection (a crashed agent's) is a failure naming the socket.
  static std::optional<AgentClient> Connect();
  AgentClient(AgentClient&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  AgentClient(const AgentClient&) = delete;
  AgentClient& operator=(const AgentClient&) = delete;
  ~AgentClient();

  // Sends the request and waits for its reply (a write waits until the agent
  // has verified it). A lost connection is a failure (port error).
  nlohmann::json Ask(const nlohmann::json& request);

 private:
  explicit AgentClient(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace tarvo_cli
