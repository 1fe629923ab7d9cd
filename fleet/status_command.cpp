// tarvo-fleet status: every station seen, lagging or unverified first.
#include <algorithm>
#include <iomanip>
#include <nlohmann/json.hpp>

#include "fleet/broker_session.h"
#include "fleet/commands.h"
#include "mqtt/topics.h"
#include "station/panel_json.h"

namespace tarvo_fleet {

namespace {

using nlohmann::json;
using namespace tarvo_mqtt;

bool NeedsLook(const StationView& station) {
  return station.Lagging() || !station.reported ||
         station.reported->state != StationState::kVerified || !station.problem.empty();
}

std::string Online(const StationView& station) {
  return station.status ? (station.status->online ? "online" : "lost") : "unknown";
}

json Revision(const std::optional<int64_t>& rev) { return rev ? json(*rev) : json(); }

json StationJson(const std::string& id, const StationView& station) {
  const Reported* reported = station.reported ? &*station.reported : nullptr;
  return {{"station", id},
          {"connection", Online(station)},
          {"session", station.status ? json(station.status->session) : json()},
          {"desired_rev", station.desired ? json(station.desired->rev) : json()},
          {"applied_rev", reported ? Revision(reported->rev) : json()},
          {"state", reported ? json(StateName(reported->state)) : json()},
          {"verified_at", reported && reported->verifiedAt
                              ? json(station::Rfc3339Utc(*reported->verifiedAt))
                              : json()},
          {"drift_count", reported ? json(reported->driftCount) : json()},
          {"lagging", station.Lagging()},
          {"problem", station.problem.empty() ? json() : json(station.problem)}};
}

std::string Text(const json& value) {
  if (value.is_null()) return "-";
  return value.is_string() ? value.get<std::string>() : value.dump();
}

}  // namespace

ExitStatus RunStatus(const Options& options, Console& console) {
  BrokerSession session(BrokerSettings(options.broker),
                        {EveryStation(TopicKind::kStatus), EveryStation(TopicKind::kReported),
                         EveryStation(TopicKind::kDesired)});
  session.Open();
  std::vector<std::pair<std::string, const StationView*>> stations;
  for (const auto& [id, station] : session.View().Stations())
    if (station.Seen() || station.desired) stations.emplace_back(id, &station);
  std::stable_sort(stations.begin(), stations.end(), [](const auto& a, const auto& b) {
    return NeedsLook(*a.second) && !NeedsLook(*b.second);
  });
  session.Close();

  json list = json::array();
  for (const auto& [id, station] : stations) list.push_back(StationJson(id, *station));
  if (options.json) {
    console.out << station::Dump({{"stations", list}}) << '\n';
    return ExitStatus::kDone;
  }
  console.out << std::left << std::setw(16) << "STATION" << std::setw(9) << "LINK" << std::setw(9)
              << "DESIRED" << std::setw(9) << "APPLIED" << std::setw(12) << "STATE" << std::setw(26)
              << "VERIFIED"
              << "DRIFT\n";
  for (const json& row : list) {
    console.out << std::setw(16) << Text(row["station"]) << std::setw(9) << Text(row["connection"])
                << std::setw(9) << Text(row["desired_rev"]) << std::setw(9)
                << Text(row["applied_rev"]) << std::setw(12) << Text(row["state"]) << std::setw(26)
                << Text(row["verified_at"]) << Text(row["drift_count"]);
    if (!row["problem"].is_null()) console.out << "  " << Text(row["problem"]);
    console.out << '\n';
  }
  return ExitStatus::kDone;
}

}  // namespace tarvo_fleet
