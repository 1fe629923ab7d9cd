#include "office/push_tracker.h"

#include <algorithm>
#include <stdexcept>

#include "fleet_push/random_id.h"
#include "mqtt/document_fields.h"
#include "mqtt/topics.h"

namespace office {

namespace {

// "not confirmed" as "not-confirmed": a JSON value is one word.
std::string OutcomeWord(tarvo_fleet::Outcome outcome) {
  std::string name(tarvo_fleet::OutcomeName(outcome));
  std::replace(name.begin(), name.end(), ' ', '-');
  return name;
}

}  // namespace

PushTracker::PushTracker(OfficeStore& store, Publish publish, std::chrono::seconds timeout,
                         std::function<void(const std::string&, const PushStation&)> outcome)
    : store_(store), publish_(std::move(publish)), timeout_(timeout), outcome_(std::move(outcome)) {
  // A push that was waiting when the service stopped waits again, on the
  // documents the broker sends now, with a deadline of its own.
  std::map<std::string, std::vector<tarvo_fleet::StationOutcome>> waiting;
  for (const auto& [changeId, station] : store_.Waiting())
    waiting[changeId].push_back({station.station, station.rev, tarvo_fleet::Outcome::kWaiting, ""});
  for (auto& [changeId, outcomes] : waiting) {
    try {
      running_.push_back({Resumed(changeId, outcomes), std::chrono::steady_clock::now() + timeout_});
    } catch (const std::exception& error) {
      // What cannot be judged again says so rather than stay waiting for ever.
      for (const tarvo_fleet::StationOutcome& station : outcomes)
        store_.SetOutcome(changeId, {station.station, station.rev, "not-confirmed",
                                     std::string("not confirmed: after a restart, ") + error.what(),
                                     NowMillis()});
    }
  }
}

std::unique_ptr<tarvo_fleet::PushOperation> PushTracker::Resumed(
    const std::string& changeId, std::vector<tarvo_fleet::StationOutcome> outcomes) {
  const auto instant = [](Millis ms) { return tarvo_mqtt::WallTime(std::chrono::milliseconds(ms)); };
  const std::optional<PushRecord> push = store_.Push(changeId);
  if (!push) throw std::runtime_error("its push is not in office.db");
  tarvo_fleet::PlanChange change;
  change.changeId = changeId;
  change.issuer = push->issuer;
  change.panels = tarvo_mqtt::Fields(nlohmann::json{{"panels", push->panels}}, "push").Panels("panels");
  change.brightness = push->brightness;
  if (push->effectiveAt) change.effectiveAt = instant(*push->effectiveAt);
  change.cancels = push->cancels;
  std::optional<tarvo_mqtt::WallTime> withdrawnAt;
  if (push->cancels) {
    const std::optional<PushRecord> cancelled = store_.Push(*push->cancels);
    if (!cancelled || !cancelled->effectiveAt) throw std::runtime_error("the push it cancels is not known");
    withdrawnAt = instant(*cancelled->effectiveAt);
  }
  tarvo_fleet::PushCallbacks callbacks{
      publish_, [this, changeId](const tarvo_fleet::StationOutcome& changed) { Record(changed, changeId); }};
  return std::make_unique<tarvo_fleet::PushOperation>(std::move(outcomes), std::move(change), withdrawnAt,
                                                      std::move(callbacks));
}

void PushTracker::Record(const tarvo_fleet::StationOutcome& outcome, const std::string& changeId) {
  const PushStation stored{outcome.station, outcome.rev, OutcomeWord(outcome.outcome),
                           outcome.detail, NowMillis()};
  store_.SetOutcome(changeId, stored);
  if (outcome_) outcome_(changeId, stored);
}

void PushTracker::Take(const tarvo_mqtt::Message& message) {
  view_.Take(message);
  const auto now = station::WallNow();
  for (Running& running : running_) running.operation->Take(message, now);
  std::erase_if(running_, [](const Running& running) { return running.operation->Done(); });
}

PushRecord PushTracker::Create(const PushOrder& order) {
  tarvo_fleet::PlanChange change;
  change.changeId = tarvo_fleet::RandomId();
  change.issuer = order.issuer;
  change.effectiveAt = order.effectiveAt;
  change.panels = order.panels;
  change.brightness = order.brightness;
  change.cancels = order.cancels;
  PushRecord record;
  record.changeId = change.changeId;
  record.issuer = order.issuer;
  record.created = NowMillis();
  if (order.effectiveAt) record.effectiveAt = ToMillis(*order.effectiveAt);
  record.panels = tarvo_mqtt::PanelsJson(order.panels);
  record.target = order.target;
  record.cancels = order.cancels;
  record.brightness = order.brightness;
  // Outcomes that come while the push starts are stored once it is recorded.
  struct Early {
    bool recorded = false;
    std::vector<tarvo_fleet::StationOutcome> outcomes;
  };
  auto early = std::make_shared<Early>();
  tarvo_fleet::PushCallbacks callbacks;
  callbacks.publish = publish_;
  callbacks.changed = [this, early, id = change.changeId](const tarvo_fleet::StationOutcome& outcome) {
    if (early->recorded)
      Record(outcome, id);
    else
      early->outcomes.push_back(outcome);
  };
  // Throws FleetFailure (a std::runtime_error) before publishing anything.
  auto operation = std::make_unique<tarvo_fleet::PushOperation>(
      view_, order.stations, change, station::WallNow(), callbacks);
  operation->Start();
  for (const tarvo_fleet::StationOutcome& outcome : operation->Outcomes())
    record.stations.push_back({outcome.station, outcome.rev, OutcomeWord(outcome.outcome),
                               outcome.detail, std::nullopt});
  store_.AddPush(record);
  early->recorded = true;
  for (const tarvo_fleet::StationOutcome& outcome : early->outcomes)
    if (outcome.outcome != tarvo_fleet::Outcome::kWaiting) Record(outcome, change.changeId);
  ++created_;
  if (!operation->Done())
    running_.push_back({std::move(operation), std::chrono::steady_clock::now() + timeout_});
  return record;
}

void PushTracker::OnTimer() {
  const auto now = std::chrono::steady_clock::now();
  for (Running& running : running_)
    if (running.deadline <= now) running.operation->Expire();
  std::erase_if(running_, [](const Running& running) { return running.operation->Done(); });
}

std::optional<std::chrono::steady_clock::time_point> PushTracker::NextDeadline() const {
  if (running_.empty()) return std::nullopt;
  return std::min_element(running_.begin(), running_.end(),
                          [](const Running& a, const Running& b) { return a.deadline < b.deadline; })
      ->deadline;
}

bool PushTracker::Known(const std::string& station) const {
  const tarvo_fleet::StationView* known = view_.Find(station);
  return known && known->Seen();
}

}  // namespace office
