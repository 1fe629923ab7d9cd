#pragma once
// One push: a change merged into each named station's plan, the plans
// published, and each station's confirmation judged on what its sign shows.
// It belongs to no loop and prints nothing: its driver (tarvo-fleet push's
// poll loop, a service's sd-event loop) hands it the broker's messages and
// the time, calls Expire at its deadline, and hears each station's outcome
// as it changes.
//
//   PushOperation push(session.View(), stations, change, now, {publish, changed});
//   push.Start();
//   ... for each message of the fleet's topics: push.Take(message, now);
//   ... at the deadline, unless push.Done(): push.Expire();

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fleet_push/fleet_view.h"
#include "fleet_push/plan.h"
#include "mqtt/client.h"

namespace tarvo_fleet {

enum class Outcome { kWaiting, kConfirmed, kNotConfirmed, kOffline };

// "waiting", "confirmed", "not confirmed", "offline".
std::string_view OutcomeName(Outcome outcome);

struct StationOutcome {
  std::string station;
  int64_t rev = 0;  // the office rev of the plan that carries the change
  Outcome outcome = Outcome::kWaiting;
  // "office rev 5 verified", "not confirmed: replaced by change c-7 (office rev 9)", ...
  std::string detail;
  bool operator==(const StationOutcome&) const = default;
};

struct PushCallbacks {
  // Publishes a retained QoS 1 document; false when the client could not take it.
  std::function<bool(const std::string& topic, const std::string& payload)> publish;
  // A station's outcome changed; once it is final (anything but waiting) it
  // changes no more.
  std::function<void(const StationOutcome& outcome)> changed;
};

class PushOperation {
 public:
  // `view`: the broker's documents as they stand; `stations`: valid station
  // ids, each named once. Throws FleetFailure (bad input) when a station's
  // plan has no revision left; nothing is published then. A cancel is not
  // confirmed, and not published, at a station whose plan holds no entry of
  // that change still to come.
  PushOperation(FleetView view, std::vector<std::string> stations, PlanChange change,
                tarvo_mqtt::WallTime now, PushCallbacks callbacks);
  // A push that was waiting when its driver stopped (`waiting`: each
  // station's office rev): nothing is published again; each station's plan
  // is known again when the broker sends it, and judged from then on as
  // before. `withdrawnAt`: for a cancel, the time of the entry it withdraws.
  PushOperation(std::vector<StationOutcome> waiting, PlanChange change,
                std::optional<tarvo_mqtt::WallTime> withdrawnAt, PushCallbacks callbacks);

  // Publishes every station's plan.
  void Start();
  // A message of the fleet's topics, as it came from the broker.
  void Take(const tarvo_mqtt::Message& message, tarvo_mqtt::WallTime now);
  // The deadline: every station still waiting gets its final outcome.
  void Expire();

  // Every station has its final outcome.
  bool Done() const;
  const std::vector<StationOutcome>& Outcomes() const { return outcomes_; }
  const PlanChange& Change() const { return change_; }

 private:
  struct Pending {
    std::optional<tarvo_mqtt::Desired> base;  // the plan the change was merged into
    tarvo_mqtt::Desired plan;                 // the plan that carries the change
    bool echoed = false;       // the broker has sent our own plan back
    int retries = 0;
    std::optional<tarvo_mqtt::WallTime> withdrawnAt;  // a cancel: the time of the entry it withdraws
    std::string refusal;  // the station refused the plan as a conflict: the deadline's word
    bool known = true;    // resumed: false until the broker sent the plan of its rev
  };
  void Publish(size_t i);
  void Judge(size_t i, tarvo_mqtt::WallTime now);
  bool LeftThere(const Pending& pending, const tarvo_mqtt::Reported& reported) const;
  void JudgeCancel(size_t i, const tarvo_mqtt::Reported& reported, tarvo_mqtt::WallTime now);
  void Replaced(size_t i, const tarvo_mqtt::Desired& plan, tarvo_mqtt::WallTime now);
  void Settle(size_t i, Outcome outcome, std::string detail);

  FleetView view_;
  PlanChange change_;
  PushCallbacks callbacks_;
  std::vector<StationOutcome> outcomes_;
  std::vector<Pending> pending_;
};

}  // namespace tarvo_fleet
