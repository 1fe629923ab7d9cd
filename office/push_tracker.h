#pragma once
// A push from the web page: the next revision of each station's desired
// state, published as tarvo-fleet push does, and each station's outcome
// judged by the fleet's own rules (Judge) as its documents arrive, or at the
// deadline. Outcomes are stored as they come and handed to `outcome`.

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fleet/fleet_view.h"
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
};

class PushTracker {
 public:
  using Publish = std::function<bool(const std::string& topic, const std::string& payload)>;
  PushTracker(OfficeStore& store, Publish publish, std::chrono::seconds timeout,
              std::function<void(const std::string& changeId, const PushStation&)> outcome);

  // Every message of the stations, to know their revisions and judge pushes.
  void Take(const tarvo_mqtt::Message& message);
  // Publishes and records the push; throws std::runtime_error when the
  // broker is not connected (nothing is recorded then).
  PushRecord Create(const PushOrder& order);
  // Gives the final word to pushes past their deadline.
  void OnTimer();
  // The next deadline, if any push waits.
  std::optional<std::chrono::steady_clock::time_point> NextDeadline() const;
  bool Known(const std::string& station) const;
  int64_t Created() const { return created_; }

 private:
  struct Waiting {
    std::string changeId;
    std::string station;
    int64_t rev = 0;
    bool scheduled = false;
    std::chrono::steady_clock::time_point deadline;
  };
  void Judge(Waiting& waiting, bool final, bool& done);

  OfficeStore& store_;
  Publish publish_;
  std::chrono::seconds timeout_;
  std::function<void(const std::string&, const PushStation&)> outcome_;
  tarvo_fleet::FleetView view_;
  std::vector<Waiting> waiting_;
  int64_t created_ = 0;
};

}  // namespace office
