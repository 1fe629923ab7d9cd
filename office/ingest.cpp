#include "office/ingest.h"

#include "mqtt/documents.h"
#include "mqtt/topics.h"

namespace office {

using namespace tarvo_mqtt;

void Ingest::Take(const Message& message) {
  const std::optional<StationTopic> topic = ParseTopic(message.topic);
  if (!topic) return;
  ++counters_.messages;
  const Millis now = NowMillis();
  bool changed = false;
  try {
    switch (topic->kind) {
      case TopicKind::kStatus:
        changed = store_.TakeStatus(topic->station, ParseStatus(message.payload), now);
        break;
      case TopicKind::kReported:
        changed = store_.TakeReported(topic->station, ParseReported(message.payload), now);
        break;
      case TopicKind::kDesired:
        // An empty retained message clears a station's desired: nothing to keep.
        if (message.payload.empty()) return;
        changed = store_.TakeDesired(topic->station, ParseDesired(message.payload), now);
        break;
      case TopicKind::kEvents: {
        const Event event = ParseEvent(message.payload);
        if (!store_.TakeEvent(topic->station, event, now)) {
          ++counters_.duplicates;
          return;
        }
        ++counters_.events;
        changed_({{"type", "event"},
                  {"station", topic->station},
                  {"id", EventKey(event)},
                  {"at", station::Rfc3339Utc(event.at)},
                  {"kind", event.kind},
                  {"text", event.text},
                  {"rev", event.rev ? nlohmann::json(*event.rev) : nlohmann::json()}});
        return;
      }
      case TopicKind::kCmdVerify:
      case TopicKind::kCmdReport:
        return;
    }
  } catch (const DocumentError& error) {
    ++counters_.refused;
    lastRefusal_ = topic->station + ": " + error.what();
    return;
  }
  if (changed) changed_({{"type", "station"}, {"station", topic->station}});
}

}  // namespace office
