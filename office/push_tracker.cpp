#include "office/push_tracker.h"

#include <algorithm>
#include <stdexcept>

#include "fleet/broker_session.h"
#include "mqtt/document_fields.h"
#include "mqtt/topics.h"

namespace office {

namespace {

std::string OutcomeName(tarvo_fleet::Outcome outcome) {
  switch (outcome) {
    case tarvo_fleet::Outcome::kConfirmed:
      return "confirmed";
    case tarvo_fleet::Outcome::kOffline:
      return "offline";
    case tarvo_fleet::Outcome::kWaiting:
      return "waiting";
    case tarvo_fleet::Outcome::kNotConfirmed:
      break;
  }
  return "not-confirmed";
}

}  // namespace

PushTracker::PushTracker(OfficeStore& store, Publish publish, std::chrono::seconds timeout,
                         std::function<void(const std::string&, const PushStation&)> outcome)
    : store_(store), publish_(std::move(publish)), timeout_(timeout), outcome_(std::move(outcome)) {
  // Pushes that were waiting when the service stopped wait again, as long.
  const auto deadline = std::chrono::steady_clock::now() + timeout_;
  for (const auto& [changeId, station] : store_.Waiting()) {
    const std::optional<PushRecord> push = store_.Push(changeId);
    waiting_.push_back({changeId, station.station, station.rev,
                        push && push->effectiveAt.has_value(), deadline});
  }
}

void PushTracker::Take(const tarvo_mqtt::Message& message) {
  view_.Take(message);
  const std::optional<tarvo_mqtt::StationTopic> topic = tarvo_mqtt::ParseTopic(message.topic);
  if (!topic) return;
  for (Waiting& waiting : waiting_) {
    bool done = false;
    if (waiting.station == topic->station) Judge(waiting, false, done);
    if (done) waiting.changeId.clear();
  }
  std::erase_if(waiting_, [](const Waiting& waiting) { return waiting.changeId.empty(); });
}

void PushTracker::Judge(Waiting& waiting, bool final, bool& done) {
  const tarvo_fleet::StationView* known = view_.Find(waiting.station);
  const tarvo_fleet::Verdict verdict =
      tarvo_fleet::Judge(known ? *known : tarvo_fleet::StationView{}, waiting.rev,
                         waiting.changeId, waiting.scheduled, final);
  if (verdict.outcome == tarvo_fleet::Outcome::kWaiting) return;
  const PushStation outcome{waiting.station, waiting.rev, OutcomeName(verdict.outcome),
                            verdict.detail, NowMillis()};
  store_.SetOutcome(waiting.changeId, outcome);
  if (outcome_) outcome_(waiting.changeId, outcome);
  done = true;
}

PushRecord PushTracker::Create(const PushOrder& order) {
  tarvo_mqtt::Desired change;
  change.changeId = tarvo_fleet::RandomId();
  change.issuer = order.issuer;
  change.effectiveAt = order.effectiveAt;
  change.panels = order.panels;
  change.brightness = order.brightness;
  PushRecord record;
  record.changeId = change.changeId;
  record.issuer = order.issuer;
  record.created = NowMillis();
  if (order.effectiveAt) record.effectiveAt = ToMillis(*order.effectiveAt);
  record.panels = tarvo_mqtt::PanelsJson(order.panels);
  record.target = order.target;
  const auto deadline = std::chrono::steady_clock::now() + timeout_;
  for (const std::string& station : order.stations) {
    const tarvo_fleet::StationView* known = view_.Find(station);
    change.rev = known ? known->NextRev() : 1;
    if (!publish_(tarvo_mqtt::Topic(station, tarvo_mqtt::TopicKind::kDesired),
                  tarvo_mqtt::Serialise(change))) {
      if (record.stations.empty()) throw std::runtime_error("the broker is not connected");
      record.stations.push_back({station, change.rev, "not-confirmed", "not published", NowMillis()});
      continue;
    }
    record.stations.push_back({station, change.rev, "waiting", "", std::nullopt});
    waiting_.push_back({change.changeId, station, change.rev, change.effectiveAt.has_value(), deadline});
  }
  store_.AddPush(record);
  ++created_;
  return record;
}

void PushTracker::OnTimer() {
  const auto now = std::chrono::steady_clock::now();
  for (Waiting& waiting : waiting_) {
    bool done = false;
    if (waiting.deadline <= now) Judge(waiting, true, done);
    if (done) waiting.changeId.clear();
  }
  std::erase_if(waiting_, [](const Waiting& waiting) { return waiting.changeId.empty(); });
}

std::optional<std::chrono::steady_clock::time_point> PushTracker::NextDeadline() const {
  if (waiting_.empty()) return std::nullopt;
  return std::min_element(waiting_.begin(), waiting_.end(),
                          [](const Waiting& a, const Waiting& b) { return a.deadline < b.deadline; })
      ->deadline;
}

bool PushTracker::Known(const std::string& station) const {
  const tarvo_fleet::StationView* known = view_.Find(station);
  return known && known->Seen();
}

}  // namespace office
