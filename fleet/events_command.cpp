// tarvo-fleet events: what the stations recorded since the last call (the
// broker queues their events for our session meanwhile), or as they come.
#include <csignal>
#include <nlohmann/json.hpp>

#include "fleet/broker_session.h"
#include "fleet/commands.h"
#include "mqtt/topics.h"
#include "station/panel_json.h"

namespace tarvo_fleet {

namespace {

using nlohmann::json;
using namespace tarvo_mqtt;

volatile std::sig_atomic_t stopRequested = 0;

json EventJson(const std::string& station, const Event& event) {
  return {{"station", station},
          {"boot_id", event.bootId},
          {"seq", event.seq},
          {"at", station::Rfc3339Utc(event.at)},
          {"kind", event.kind},
          {"text", event.text},
          {"rev", event.rev ? json(*event.rev) : json()}};
}

}  // namespace

ExitStatus RunEvents(const Options& options, Console& console) {
  if (options.station && !IsStationId(*options.station))
    throw FleetFailure(
        ExitStatus::kBadInput,
        "\"" + *options.station + "\" is not a station id (letters, digits, - and _)");
  const ClientSettings settings = BrokerSettings(options.broker);
  const std::string scope = options.station.value_or("all");
  const std::string filter = options.station ? Topic(*options.station, TopicKind::kEvents)
                                             : EveryStation(TopicKind::kEvents);
  // One kept session per user and scope: each view of the events has its own queue.
  BrokerSession session(settings, {filter},
                        "tarvo-fleet-events-" +
                            (settings.username.empty() ? "anonymous" : settings.username) + "-" +
                            scope);
  json events = json::array();
  const auto print = [&](const Message& message) {
    const auto topic = ParseTopic(message.topic);
    if (!topic || topic->kind != TopicKind::kEvents) return;
    json row;
    try {
      row = EventJson(topic->station, ParseEvent(message.payload));
    } catch (const DocumentError& error) {
      console.err << "tarvo-fleet: " << topic->station << ": " << error.what() << '\n';
      return;
    }
    if (options.json && !options.follow) {
      events.push_back(row);
    } else if (options.json) {
      console.out << station::Dump(row) << std::endl;
    } else {
      console.out << row["at"].get<std::string>() << "  " << topic->station << "  #" << row["seq"]
                  << "  " << row["kind"].get<std::string>() << "  "
                  << row["text"].get<std::string>() << std::endl;
    }
  };
  session.onMessage = print;
  session.Open();
  if (options.follow) {
    std::signal(SIGINT, [](int) { stopRequested = 1; });
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    while (!stopRequested)
      session.RunUntil([] { return stopRequested != 0; }, std::chrono::seconds(1));
  }
  session.Close();
  if (options.json && !options.follow) console.out << station::Dump({{"events", events}}) << '\n';
  return ExitStatus::kDone;
}

}  // namespace tarvo_fleet
