// tarvo-fleet push: the next revision of each station's desired state, and
// the wait until each station reports it verified (or scheduled).
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <nlohmann/json.hpp>

#include "fleet/broker_session.h"
#include "fleet_push/random_id.h"
#include "fleet/commands.h"
#include "fleet_push/push_operation.h"
#include "mqtt/topics.h"
#include "station/human_time.h"
#include "station/panel_json.h"
#include "station/panel_request.h"

namespace tarvo_fleet {

namespace {

using nlohmann::json;
using namespace tarvo_mqtt;

[[noreturn]] void BadInput(const std::string& what) {
  throw FleetFailure(ExitStatus::kBadInput, what);
}

// --station IDs, or the ids of --stations FILE (one a line; "#" starts a comment).
std::vector<std::string> NamedStations(const Options& options) {
  std::vector<std::string> ids = options.stations;
  if (options.stationsFile) {
    std::ifstream file(*options.stationsFile);
    if (!file) BadInput("cannot read --stations " + *options.stationsFile);
    for (std::string line; std::getline(file, line);) {
      line = line.substr(0, line.find('#'));
      line.erase(0, line.find_first_not_of(" \t\r"));
      line.erase(line.find_last_not_of(" \t\r") + 1);
      if (!line.empty()) ids.push_back(line);
    }
    if (ids.empty()) BadInput("--stations " + *options.stationsFile + " names no station");
  }
  for (const std::string& id : ids)
    if (!IsStationId(id)) BadInput("\"" + id + "\" is not a station id (letters, digits, - and _)");
  std::sort(ids.begin(), ids.end());
  if (std::adjacent_find(ids.begin(), ids.end()) != ids.end()) BadInput("a station is named twice");
  return ids;
}

std::string Issuer(const std::string& username) {
  if (!username.empty()) return username;
  const char* login = getlogin();
  return login ? login : "head-office";
}

// "not-confirmed": a JSON value is one word.
std::string JsonName(Outcome outcome) {
  std::string name(OutcomeName(outcome));
  std::replace(name.begin(), name.end(), ' ', '-');
  return name;
}

// --at as an instant still to come, read as a person writes it: a time
// already past is refused. The instant it became is shown before anything is
// published.
std::optional<WallTime> EffectiveAt(const Options& options, WallTime now, Console& console) {
  if (!options.at) return std::nullopt;
  const std::optional<int64_t> ms = station::ParseWhen(*options.at, now.time_since_epoch().count());
  if (!ms)
    BadInput("--at \"" + *options.at +
             "\": give 06:00, tomorrow 06:00, 2026-12-10 06:00 (local time) or "
             "2026-12-09T06:00:00+03:00");
  const WallTime at{std::chrono::milliseconds(*ms)};
  if (at <= now)
    BadInput("--at \"" + *options.at + "\" is not ahead (it reads as " + station::Rfc3339Utc(at) +
             "); leave --at out for now");
  if (!options.json) console.out << "at " << station::LocalInstant(*ms) << '\n';
  return at;
}

// A scheduled entry of the station's plan that asks the same as `change` at its time.
const tarvo_mqtt::ScheduledEntry* SameScheduled(const StationView* known, const PlanChange& change) {
  if (!known || !known->desired || !change.effectiveAt) return nullptr;
  for (const tarvo_mqtt::ScheduledEntry& entry : known->desired->scheduled)
    if (entry.effectiveAt == *change.effectiveAt && entry.panels == change.panels &&
        entry.brightness == change.brightness)
      return &entry;
  return nullptr;
}

}  // namespace

ExitStatus RunPush(const Options& options, Console& console) {
  // Everything the line says is checked before anything is published.
  PlanChange change;
  change.panels = station::ParseSpecs(options.specs);
  change.effectiveAt = EffectiveAt(options, station::WallNow(), console);
  change.cancels = options.cancels;
  if (change.cancels && !IsStationId(*change.cancels))
    BadInput("\"" + *change.cancels + "\" is not a change id (letters, digits, - and _)");
  std::vector<std::string> stations = NamedStations(options);
  const ClientSettings settings = BrokerSettings(options.broker);
  change.issuer = Issuer(settings.username);
  change.changeId = RandomId();

  BrokerSession session(settings,
                        {EveryStation(TopicKind::kStatus), EveryStation(TopicKind::kReported),
                         EveryStation(TopicKind::kDesired)});
  session.Open();
  if (options.all) {
    for (const auto& [id, station] : session.View().Stations())
      if (station.Seen()) stations.push_back(id);
    if (stations.empty()) BadInput("--all: no station has been seen on the broker");
  } else if (change.cancels && stations.empty()) {
    for (const auto& [id, station] : session.View().Stations())
      if (station.desired && ScheduledEntryOf(*station.desired, *change.cancels, station::WallNow()))
        stations.push_back(id);
    if (stations.empty())
      BadInput("no station's plan holds change " + *change.cancels + " still to come");
  }
  for (const std::string& id : stations) {
    const StationView* known = session.View().Find(id);
    if (!options.isNew && (known == nullptr || (!known->Seen() && !known->desired)))
      BadInput(id + ": no such station has been seen on the broker (mistyped? --new pushes to a "
                    "station that has never connected)");
    if (const tarvo_mqtt::ScheduledEntry* same = SameScheduled(known, change))
      console.err << "tarvo-fleet: warning: " << id << ": the same change is scheduled already (change "
                  << same->changeId << ")\n";
  }

  PushOperation push(session.View(), stations, change, station::WallNow(),
                     {.publish =
                          [&session](const std::string& topic, const std::string& payload) {
                            return session.Client().Publish(topic, payload, 1, true);
                          },
                      .changed = nullptr});
  session.onMessage = [&push](const Message& message) {
    push.Take(message, station::WallNow());
  };
  push.Start();
  session.RunUntil([&push] { return push.Done(); }, std::chrono::seconds(options.timeoutS));
  push.Expire();
  session.Close();

  json list = json::array();
  size_t confirmed = 0;
  for (const StationOutcome& result : push.Outcomes()) {
    confirmed += result.outcome == Outcome::kConfirmed;
    list.push_back({{"station", result.station},
                    {"office_rev", result.rev},
                    {"outcome", JsonName(result.outcome)},
                    {"detail", result.detail}});
  }
  const ExitStatus status =
      confirmed == stations.size() ? ExitStatus::kDone : ExitStatus::kNotConfirmed;
  if (options.json) {
    console.out << station::Dump(
                       {{"change_id", change.changeId},
                        {"effective_at", change.effectiveAt
                                             ? json(station::Rfc3339Utc(*change.effectiveAt))
                                             : json()},
                        {"stations", list},
                        {"confirmed", confirmed},
                        {"exit", static_cast<int>(status)}})
                << '\n';
  } else {
    for (const StationOutcome& result : push.Outcomes())
      console.out << std::left << std::setw(16) << result.station << std::setw(15)
                  << OutcomeName(result.outcome) << result.detail << '\n';
    console.out << "change " << change.changeId << '\n';  // what `tarvo-fleet cancel` takes
  }
  if (status != ExitStatus::kDone)
    console.err << "tarvo-fleet: " << stations.size() - confirmed << " of " << stations.size()
                << " stations did not confirm change " << change.changeId << '\n';
  return status;
}

}  // namespace tarvo_fleet
