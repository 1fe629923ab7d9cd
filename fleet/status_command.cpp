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

// Verified only while the last verification held: a sign that went silent
// or showed something else since is not, whatever state was published.
std::string State(const Reported& reported) {
  const bool failed = reported.lastVerification && !reported.lastVerification->ok;
  if (reported.state == StationState::kVerified && failed) return "unverified";
  return std::string(StateName(reported.state));
}

bool NeedsLook(const StationView& station) {
  return station.Lagging() || !station.reported || State(*station.reported) != "verified" ||
         station.reported->localOverride || station.reported->refused || !station.problem.empty();
}

std::string Online(const StationView& station) {
  return station.status ? (station.status->online ? "online" : "lost") : "unknown";
}

json Revision(const std::optional<int64_t>& rev) { return rev ? json(*rev) : json(); }

json StationJson(const std::string& id, const StationView& station) {
  const Reported* reported = station.reported ? &*station.reported : nullptr;
  json verification, local, refused;
  if (reported && reported->lastVerification)
    verification = {{"at", station::Rfc3339Utc(reported->lastVerification->at)},
                    {"ok", reported->lastVerification->ok}};
  if (reported && reported->localOverride)
    local = {{"by", reported->localOverride->issuer},
             {"panels", reported->localOverride->panels},
             {"at", station::Rfc3339Utc(reported->localOverride->at)}};
  if (reported && reported->refused)
    refused = {{"office_rev", reported->refused->rev},
               {"change_id", reported->refused->changeId},
               {"reason", reported->refused->reason}};
  return {{"station", id},
          {"connection", Online(station)},
          {"session", station.status ? json(station.status->session) : json()},
          {"office_rev", station.desired ? json(station.desired->rev) : json()},
          {"taken_office_rev", reported ? Revision(reported->rev) : json()},
          {"state", reported ? json(State(*reported)) : json()},
          {"last_verification", verification},
          {"override", local},
          {"refused", refused},
          {"drift_count", reported ? json(reported->driftCount) : json()},
          {"lagging", station.Lagging()},
          {"problem", station.problem.empty() ? json() : json(station.problem)}};
}

// "2026-12-09T03:00:00Z ok", "... failed", "-".
std::string VerificationText(const json& verification) {
  if (verification.is_null()) return "-";
  return verification["at"].get<std::string>() + (verification["ok"].get<bool>() ? " ok" : " failed");
}

// What else a person must know of the station, after the columns.
std::string Remarks(const json& row) {
  std::string remarks;
  if (const json& local = row["override"]; !local.is_null()) {
    remarks += "  override by " + local["by"].get<std::string>() + " on panels";
    for (const json& address : local["panels"]) remarks += " " + address.dump();
  }
  if (const json& refused = row["refused"]; !refused.is_null())
    remarks += "  refused office rev " + refused["office_rev"].dump() + " (" +
               refused["reason"].get<std::string>() + ")";
  if (!row["problem"].is_null()) remarks += "  " + row["problem"].get<std::string>();
  return remarks;
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
  console.out << std::left << std::setw(16) << "STATION" << std::setw(9) << "LINK" << std::setw(15)
              << "OFFICE REV" << std::setw(15) << "TAKEN" << std::setw(12) << "STATE"
              << std::setw(33) << "LAST VERIFICATION"
              << "DRIFT\n";
  for (const json& row : list) {
    console.out << std::setw(16) << Text(row["station"]) << std::setw(9) << Text(row["connection"])
                << std::setw(15) << Text(row["office_rev"]) << std::setw(15)
                << Text(row["taken_office_rev"]) << std::setw(12) << Text(row["state"])
                << std::setw(33) << VerificationText(row["last_verification"])
                << Text(row["drift_count"]) << Remarks(row) << '\n';
  }
  return ExitStatus::kDone;
}

}  // namespace tarvo_fleet
