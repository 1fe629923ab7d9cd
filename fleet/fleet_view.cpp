#include "fleet/fleet_view.h"

#include <algorithm>

#include "mqtt/topics.h"

namespace tarvo_fleet {

using namespace tarvo_mqtt;

bool StationView::Lagging() const {
  if (!desired) return false;
  return !reported || reported->rev.value_or(0) < desired->rev;
}

int64_t StationView::NextRev() const {
  int64_t highest = desired ? desired->rev : 0;
  if (reported) {
    highest = std::max(highest, reported->rev.value_or(0));
    for (const PendingRevision& pending : reported->pending)
      highest = std::max(highest, pending.rev);
  }
  return highest + 1;
}

void FleetView::Take(const Message& message) {
  const std::optional<StationTopic> topic = ParseTopic(message.topic);
  if (!topic) return;
  StationView& station = stations_[topic->station];
  try {
    switch (topic->kind) {
      case TopicKind::kDesired:
        // An emptied retained message removes the station's desired state.
        if (message.payload.empty()) {
          station.desired.reset();
        } else {
          station.desired = ParseDesired(message.payload);
        }
        break;
      case TopicKind::kReported:
        station.reported = ParseReported(message.payload);
        break;
      case TopicKind::kStatus: {
        const Status status = ParseStatus(message.payload);
        // Within one session "lost" comes after "online"; across sessions the newer wins.
        if (!station.status || status.session > station.status->session ||
            (status.session == station.status->session && !status.online))
          station.status = status;
        break;
      }
      default:
        return;
    }
  } catch (const DocumentError& error) {
    station.problem = error.what();
  }
}

const StationView* FleetView::Find(const std::string& station) const {
  const auto found = stations_.find(station);
  return found == stations_.end() ? nullptr : &found->second;
}

Verdict Judge(const StationView& station, int64_t rev, const std::string& changeId, bool scheduled,
              bool final) {
  const std::string revText = "rev " + std::to_string(rev);
  if (station.reported) {
    const Reported& reported = *station.reported;
    const int64_t applied = reported.rev.value_or(0);
    const bool ours = reported.changeId == changeId;
    const bool pending = std::any_of(
        reported.pending.begin(), reported.pending.end(),
        [&](const PendingRevision& p) { return p.rev == rev && p.changeId == changeId; });
    if (applied == rev && ours && reported.state == StationState::kVerified)
      return {Outcome::kConfirmed, revText + " verified"};
    if (scheduled && pending) return {Outcome::kConfirmed, revText + " scheduled"};
    if (applied > rev || (applied == rev && !ours))
      return {Outcome::kNotConfirmed,
              "the station holds rev " + std::to_string(applied) + " of another change"};
  }
  if (!final) return {Outcome::kWaiting, ""};
  const bool online = station.status && station.status->online;
  if (!online)
    return {Outcome::kOffline, revText + " waits on the broker until the station connects"};
  if (!station.reported) return {Outcome::kNotConfirmed, "the station has reported nothing"};
  const Reported& reported = *station.reported;
  const std::string applied =
      reported.rev ? "applied rev " + std::to_string(*reported.rev) : "no revision applied";
  return {Outcome::kNotConfirmed, std::string(StateName(reported.state)) + " (" + applied + ")"};
}

}  // namespace tarvo_fleet
