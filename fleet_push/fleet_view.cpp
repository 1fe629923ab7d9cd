#include "fleet_push/fleet_view.h"

#include "mqtt/topics.h"

namespace tarvo_fleet {

using namespace tarvo_mqtt;

bool StationView::Lagging() const {
  if (!desired) return false;
  return !reported || reported->rev.value_or(0) < desired->rev;
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
        if (message.payload.empty()) {
          station.reported.reset();  // forgotten
        } else {
          station.reported = ParseReported(message.payload);
        }
        break;
      case TopicKind::kStatus: {
        if (message.payload.empty()) {
          station.status.reset();
          break;
        }
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

}  // namespace tarvo_fleet
