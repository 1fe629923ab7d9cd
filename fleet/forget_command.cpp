// tarvo-fleet forget: clears the retained documents of a station that is
// gone (or was a typing error), so that status and push --all leave it out.
#include <nlohmann/json.hpp>

#include "fleet/broker_session.h"
#include "fleet/commands.h"
#include "mqtt/topics.h"
#include "station/panel_json.h"

namespace tarvo_fleet {

using namespace tarvo_mqtt;

ExitStatus RunForget(const Options& options, Console& console) {
  const std::string& id = *options.station;
  if (!IsStationId(id))
    throw FleetFailure(ExitStatus::kBadInput,
                       "\"" + id + "\" is not a station id (letters, digits, - and _)");
  const TopicKind kinds[] = {TopicKind::kDesired, TopicKind::kReported, TopicKind::kStatus};
  std::vector<std::string> topics;
  for (const TopicKind kind : kinds) topics.push_back(Topic(id, kind));
  BrokerSession session(BrokerSettings(options.broker), topics);
  session.Open();
  const StationView* station = session.View().Find(id);
  if (station == nullptr)
    throw FleetFailure(ExitStatus::kBadInput, id + ": the broker holds nothing of this station");
  // Its agent would publish them again at once, and keep the plan it holds.
  if (station->status && station->status->online)
    throw FleetFailure(ExitStatus::kBadInput, id + " is online: stop its agent first");
  for (const std::string& topic : topics) session.Client().Publish(topic, "", 1, true);
  session.Close();
  if (options.json)
    console.out << station::Dump({{"station", id}, {"forgotten", true}}) << '\n';
  else
    console.out << id << ": desired, reported and status cleared\n";
  return ExitStatus::kDone;
}

}  // namespace tarvo_fleet
