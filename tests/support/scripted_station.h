#pragma once
// A station played by the test over the fleet's real topics and client: it
// says it is online (its will says lost), and on each desired document
// reports that revision verified at once (or scheduled, when its time is
// ahead), as an agent whose sign took it would. It runs its own poll loop on
// a thread of its own until destroyed, when it says goodbye (no will).

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mqtt/client.h"
#include "mqtt/documents.h"

namespace tarvo::test {

class ScriptedStation {
 public:
  // Connects as user `id` with the settings' broker, password and TLS.
  ScriptedStation(std::string id, tarvo_mqtt::ClientSettings settings);
  ~ScriptedStation();
  ScriptedStation(const ScriptedStation&) = delete;
  ScriptedStation& operator=(const ScriptedStation&) = delete;

  bool Connected() const { return connected_; }
  // Connected, and the broker has acknowledged all it published.
  bool Settled() const { return settled_; }
  // How many times it has connected.
  int Connections() const { return connections_; }
  // Every desired document that reached it, in order.
  std::vector<tarvo_mqtt::Desired> Desired() const;
  // Publishes as this station (its own credentials), from its loop's thread.
  void Publish(const std::string& topic, const std::string& payload);

 private:
  void Run();
  void OnMessage(const tarvo_mqtt::Message& message);

  std::string id_;
  tarvo_mqtt::Client client_;
  std::atomic<bool> connected_{false};
  std::atomic<int> connections_{0};
  std::atomic<bool> settled_{false};
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<tarvo_mqtt::Desired> desired_;
  std::vector<std::pair<std::string, std::string>> outbox_;
  int64_t session_ = 0;
  std::optional<tarvo_mqtt::Reported> reported_;  // the loop thread's own
  std::thread thread_;
};

}  // namespace tarvo::test
