#pragma once
// Pushes from the web page, each the fleet's own PushOperation (the one
// tarvo-fleet push runs) driven from the service's loop: it is handed every
// message of the fleet's topics and the deadline. Outcomes are stored as they
// come and handed to `outcome`; pushes stored as waiting wait again after a
// restart.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fleet_push/fleet_view.h"
#include "fleet_push/push_operation.h"
#include "mqtt/client.h"
#include "office/office_store.h"

namespace office {

struct PushOrder {
  std::vector<station::PanelRequest> panels;
  std::optional<std::string> brightness;
  std::optional<tarvo_mqtt::WallTime> effectiveAt;
  std::vector<std::string> stations;
  nlohmann::json target;
  std::string issuer;
  std::optional<std::string> cancels;  // withdraws this scheduled push instead
};

class PushTracker {
 public:
  using Publish = std::function<bool(const std::string& topic, const std::string& payload)>;
  PushTracker(OfficeStore& store, Publish publish, std::chrono::seconds timeout,
              std::function<void(const std::string& changeId, const PushStation&)> outcome);

  // Every message of the stations, to know their revisions and judge pushes.
  void Take(const tarvo_mqtt::Message& message);
  // Publishes and records the push; throws std::runtime_error when the
  // broker is not connected or a plan has no revision left (nothing is
  // published or recorded then).
  PushRecord Create(const PushOrder& order);
  // Gives the final word to pushes past their deadline.
  void OnTimer();
  // The next deadline, if any push waits.
  std::optional<std::chrono::steady_clock::time_point> NextDeadline() const;
  bool Known(const std::string& station) const;
  int64_t Created() const { return created_; }

 private:
  struct Running {
    std::unique_ptr<tarvo_fleet::PushOperation> operation;
    std::chrono::steady_clock::time_point deadline;
  };
  void Record(const tarvo_fleet::StationOutcome& outcome, const std::string& changeId);
  // A stored push that was waiting, to wait again; throws what keeps it from that.
  std::unique_ptr<tarvo_fleet::PushOperation> Resumed(const std::string& changeId,
                                                      std::vector<tarvo_fleet::StationOutcome> outcomes);

  OfficeStore& store_;
  Publish publish_;
  std::chrono::seconds timeout_;
  std::function<void(const std::string&, const PushStation&)> outcome_;
  tarvo_fleet::FleetView view_;
  std::vector<Running> running_;
  int64_t created_ = 0;
};

}  // namespace office
