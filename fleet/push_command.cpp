// tarvo-fleet push: the next revision of each station's desired state, and
// the wait until each station reports it verified (or scheduled).
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <nlohmann/json.hpp>

#include "fleet/broker_session.h"
#include "fleet/commands.h"
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

std::string OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kConfirmed:
      return "confirmed";
    case Outcome::kOffline:
      return "offline";
    case Outcome::kWaiting:
    case Outcome::kNotConfirmed:
      break;
  }
  return "not confirmed";
}

// "not-confirmed": a JSON value is one word.
std::string JsonName(Outcome outcome) {
  std::string name = OutcomeName(outcome);
  std::replace(name.begin(), name.end(), ' ', '-');
  return name;
}

}  // namespace

ExitStatus RunPush(const Options& options, Console& console) {
  // Everything the line says is checked before anything is published.
  Desired change;
  change.panels = station::ParseSpecs(options.specs);
  if (options.at) {
    const auto now =
        std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
    const std::optional<int64_t> at =
        station::ParseWhen(*options.at, now.time_since_epoch().count());
    if (!at)
      BadInput("--at \"" + *options.at +
               "\": give 06:00, tomorrow 06:00, 2026-12-10 06:00 (local time) or "
               "2026-12-09T06:00:00+03:00");
    change.effectiveAt = station::WallTime(std::chrono::milliseconds(*at));
    // The instant a person's "06:00" became, before anything is published.
    if (!options.json) console.out << "at " << station::LocalInstant(*at) << '\n';
  }
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
  }

  std::vector<int64_t> revs;
  for (const std::string& id : stations) {
    const StationView* known = session.View().Find(id);
    change.rev = known ? known->NextRev() : 1;
    revs.push_back(change.rev);
    const std::optional<Desired>& before = known ? known->desired : std::nullopt;
    if (before && change.effectiveAt && before->effectiveAt == change.effectiveAt &&
        before->panels == change.panels && before->brightness == change.brightness)
      console.err << "tarvo-fleet: warning: " << id << ": the same change is scheduled already (rev "
                  << before->rev << ")\n";
    session.Client().Publish(Topic(id, TopicKind::kDesired), Serialise(change), 1, true);
  }
  const bool scheduled = change.effectiveAt.has_value();
  const auto verdict = [&](size_t i, bool final) {
    const StationView* known = session.View().Find(stations[i]);
    return Judge(known ? *known : StationView{}, revs[i], change.changeId, scheduled, final);
  };
  session.RunUntil(
      [&] {
        for (size_t i = 0; i < stations.size(); ++i)
          if (verdict(i, false).outcome == Outcome::kWaiting) return false;
        return true;
      },
      std::chrono::seconds(options.timeoutS));

  json list = json::array();
  std::vector<Verdict> results;
  size_t confirmed = 0;
  for (size_t i = 0; i < stations.size(); ++i) {
    const Verdict& result = results.emplace_back(verdict(i, true));
    confirmed += result.outcome == Outcome::kConfirmed;
    list.push_back({{"station", stations[i]},
                    {"rev", revs[i]},
                    {"outcome", JsonName(result.outcome)},
                    {"detail", result.detail}});
  }
  session.Close();
  const ExitStatus status =
      confirmed == stations.size() ? ExitStatus::kDone : ExitStatus::kNotConfirmed;
  if (options.json) {
    console.out << station::Dump(
                       {{"change_id", change.changeId},
                        {"effective_at",
                         scheduled ? json(station::Rfc3339Utc(*change.effectiveAt)) : json()},
                        {"stations", list},
                        {"confirmed", confirmed},
                        {"exit", static_cast<int>(status)}})
                << '\n';
  } else {
    for (size_t i = 0; i < stations.size(); ++i)
      console.out << std::left << std::setw(16) << stations[i] << std::setw(15)
                  << OutcomeName(results[i].outcome) << results[i].detail << '\n';
  }
  if (status != ExitStatus::kDone)
    console.err << "tarvo-fleet: " << stations.size() - confirmed << " of " << stations.size()
                << " stations did not confirm change " << change.changeId << '\n';
  return status;
}

}  // namespace tarvo_fleet
