#pragma once
// tarvo-fleet's one connection to the broker: connects, takes every station's
// retained documents into a FleetView, and knows when it has all of them.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fleet_push/fleet_view.h"
#include "mqtt/client.h"
#include "mqtt/poll_loop.h"

namespace tarvo_fleet {

class BrokerSession {
 public:
  // `persistentId`: a client id whose session the broker keeps (QoS 1
  // messages queue while we are away); empty for a session of its own.
  BrokerSession(tarvo_mqtt::ClientSettings settings, std::vector<std::string> filters,
                const std::string& persistentId = "");
  ~BrokerSession();

  // Connects and waits until everything the broker had for our filters has
  // arrived. Throws FleetFailure (broker) when it cannot connect or refuses.
  void Open();
  // Runs the loop until `done` or the bound; says whether `done` held.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds bound);
  // Waits for the broker's acknowledgement of what was published, then leaves.
  void Close();

  tarvo_mqtt::Client& Client() { return *client_; }
  const FleetView& View() const { return view_; }
  // Every message of the stations, in order, for a caller of its own.
  std::function<void(const tarvo_mqtt::Message&)> onMessage;

 private:
  std::string url_;
  std::string username_;
  std::optional<std::chrono::steady_clock::time_point> connectedAt_;
  std::string syncTopic_;
  std::string failure_;
  bool synced_ = false;
  FleetView view_;
  std::unique_ptr<tarvo_mqtt::Client> client_;
  tarvo_mqtt::PollLoop loop_;
};

}  // namespace tarvo_fleet
