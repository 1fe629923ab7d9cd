#pragma once
// office.db: what the head office knows of every station, the stations'
// events (each once), the price periods of verified read-backs, groups and
// pushes. Each Take* is one transaction: once it returns, the message is on
// disk.

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mqtt/documents.h"
#include "office/sqlite_statement.h"

namespace office {

using Millis = int64_t;  // milliseconds since the epoch, UTC

Millis NowMillis();
Millis ToMillis(tarvo_mqtt::WallTime time);
nlohmann::json TimeText(std::optional<Millis> at);  // RFC 3339 UTC or null

// The key a station's event is deduplicated by: the same event sent again
// (a replay, a backfill) has the same key.
std::string EventKey(const tarvo_mqtt::Event& event);

struct PushStation {
  std::string station;
  int64_t rev = 0;
  std::string outcome;  // waiting, confirmed, not-confirmed, offline
  std::string detail;
  std::optional<Millis> at;  // when the outcome came
};

struct PushRecord {
  std::string changeId;
  std::string issuer;
  Millis created = 0;
  std::optional<Millis> effectiveAt;
  nlohmann::json panels;    // as the desired document carries them
  nlohmann::json target;    // {"stations": [...]} or {"group": "..."}
  std::optional<std::string> brightness;  // "auto" or "0".."9"; none: untouched
  std::optional<std::string> cancels;  // a cancel: the scheduled push it withdraws
  std::vector<std::string> cancelledBy;  // the cancels made of this push
  std::vector<PushStation> stations;
};

class OfficeStore {
 public:
  explicit OfficeStore(const std::string& path);

  // Each returns true when it changed what the office knows.
  bool TakeStatus(const std::string& station, const tarvo_mqtt::Status& status, Millis now);
  bool TakeReported(const std::string& station, const tarvo_mqtt::Reported& reported, Millis now);
  // `now`: when the office saw this plan; a station lags from then until it takes it.
  bool TakeDesired(const std::string& station, const tarvo_mqtt::Desired& desired, Millis now);
  // False for an event already stored.
  bool TakeEvent(const std::string& station, const tarvo_mqtt::Event& event, Millis now);

  nlohmann::json Stations() const;
  // Stations() as one JSON text, made from the kept documents of the stations.
  std::string StationsText() const;
  std::optional<nlohmann::json> Station(const std::string& id) const;
  // Newest first, at most `limit`, before `before` when given.
  nlohmann::json History(const std::string& station, std::optional<Millis> before,
                         int limit) const;
  // The price periods of the stations (all when empty) that overlap [from, to).
  nlohmann::json Periods(const std::vector<std::string>& stations, Millis from, Millis to) const;
  // Each of the ten panels at `at`, from verified read-backs, or "unknown".
  nlohmann::json ShownAt(const std::string& station, Millis at) const;
  int64_t EventCount() const;

  std::map<std::string, std::vector<std::string>> Groups() const;
  void SetGroup(const std::string& name, const std::vector<std::string>& stations);

  void AddPush(const PushRecord& push);
  void SetOutcome(const std::string& changeId, const PushStation& outcome);
  std::vector<PushRecord> Pushes(int limit) const;
  std::optional<PushRecord> Push(const std::string& changeId) const;
  // The pushes' stations still waiting, for the push tracker after a restart.
  std::vector<std::pair<std::string, PushStation>> Waiting() const;

 private:
  // Each station's document is made once and again only after it changed:
  // the list is asked for far more often than a station changes.
  struct Cached {
    nlohmann::json station;
    bool lagging = false;
    Millis lagSince = 0;
  };
  void LoadStations(const std::optional<std::string>& only) const;
  void Refresh() const;
  void Changed(const std::string& station);
  void ClosePeriods(const std::string& station, Millis at);
  std::vector<PushStation> PushStations(const std::string& changeId) const;
  // The newest pushes, or the one of `changeId`.
  std::vector<PushRecord> PushRows(const std::optional<std::string>& changeId, int limit) const;
  mutable Database db_;
  mutable std::map<std::string, Cached> cache_;
  mutable std::set<std::string> stale_;
  mutable bool cacheComplete_ = false;
};

}  // namespace office
