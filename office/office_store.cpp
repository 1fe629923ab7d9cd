#include "office/office_store.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "mqtt/document_fields.h"
#include "station/panel_json.h"
#include "station/panel_request.h"
#include "station/rfc3339.h"

namespace office {

namespace {

using nlohmann::json;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS stations (
  id TEXT PRIMARY KEY,
  online INTEGER, session INTEGER, since_ms INTEGER,
  office_rev INTEGER, office_change_id TEXT, office_issuer TEXT,
  office_scheduled TEXT NOT NULL DEFAULT '[]', office_since_ms INTEGER,
  rev INTEGER, change_id TEXT, state TEXT, read_at_ms INTEGER, verified_at_ms INTEGER,
  drift_count INTEGER NOT NULL DEFAULT 0, override TEXT, pending TEXT NOT NULL DEFAULT '[]',
  panels TEXT NOT NULL DEFAULT '[]', checked_ms INTEGER, checked_ok INTEGER,
  version TEXT, boot_id TEXT);
CREATE TABLE IF NOT EXISTS events (
  station TEXT NOT NULL, key TEXT NOT NULL, at_ms INTEGER NOT NULL, received_ms INTEGER NOT NULL,
  kind TEXT NOT NULL, text TEXT NOT NULL, rev INTEGER,
  PRIMARY KEY (station, key)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS events_by_time ON events (station, at_ms);
CREATE TABLE IF NOT EXISTS periods (
  id INTEGER PRIMARY KEY, station TEXT NOT NULL, address INTEGER NOT NULL,
  price TEXT, grade TEXT, inscription INTEGER, rev INTEGER, change_id TEXT, issuer TEXT,
  from_ms INTEGER NOT NULL, to_ms INTEGER);
CREATE INDEX IF NOT EXISTS periods_by_panel ON periods (station, address, from_ms);
CREATE TABLE IF NOT EXISTS groups (
  name TEXT NOT NULL, station TEXT NOT NULL, PRIMARY KEY (name, station)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS pushes (
  change_id TEXT PRIMARY KEY, issuer TEXT NOT NULL, created_ms INTEGER NOT NULL,
  effective_ms INTEGER, panels TEXT NOT NULL, target TEXT NOT NULL, cancels TEXT, brightness TEXT);
CREATE TABLE IF NOT EXISTS push_stations (
  change_id TEXT NOT NULL REFERENCES pushes (change_id), station TEXT NOT NULL,
  rev INTEGER NOT NULL, outcome TEXT NOT NULL, detail TEXT NOT NULL, at_ms INTEGER,
  PRIMARY KEY (change_id, station)) WITHOUT ROWID;
)";

// Verified and scheduled both mean the sign was read back equal to its revision.
bool Verified(tarvo_mqtt::StationState state) {
  return state == tarvo_mqtt::StationState::kVerified ||
         state == tarvo_mqtt::StationState::kScheduled;
}

json Parsed(const std::optional<std::string>& text) {
  return text ? json::parse(*text) : json();
}

void EnsureStation(Database& db, const std::string& station) {
  Statement(db, "INSERT OR IGNORE INTO stations (id) VALUES (?)").Bind(1, station).Step();
}

}  // namespace

Millis NowMillis() { return ToMillis(station::WallNow()); }

Millis ToMillis(tarvo_mqtt::WallTime time) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

json TimeText(std::optional<Millis> at) {
  if (!at) return json();
  return station::Rfc3339Utc(tarvo_mqtt::WallTime(std::chrono::milliseconds(*at)));
}

std::string EventKey(const tarvo_mqtt::Event& event) { return std::to_string(event.seq); }

OfficeStore::OfficeStore(const std::string& path) : db_(path) {
  db_.Execute(kSchema);
  // A database from before a push recorded these gains their columns.
  std::set<std::string> columns;
  Statement names(db_, "SELECT name FROM pragma_table_info('pushes')");
  while (names.Step()) columns.insert(names.Text(0));
  for (const char* column : {"cancels", "brightness"})
    if (!columns.count(column))
      db_.Execute((std::string("ALTER TABLE pushes ADD COLUMN ") + column + " TEXT").c_str());
  db_.Execute("CREATE INDEX IF NOT EXISTS pushes_by_cancelled ON pushes (cancels)");
}

bool OfficeStore::TakeStatus(const std::string& station, const tarvo_mqtt::Status& status,
                             Millis now) {
  Transaction transaction(db_);
  EnsureStation(db_, station);
  Statement current(db_, "SELECT online, session FROM stations WHERE id = ?");
  current.Bind(1, station).Step();
  const std::optional<int64_t> online = current.OptionalInteger(0);
  const std::optional<int64_t> session = current.OptionalInteger(1);
  // A late will of an older session never hides a newer "online".
  if (session && (status.session < *session ||
                  (status.session == *session && online && *online == status.online)))
    return false;
  const bool flipped = !online || (*online != 0) != status.online;
  Statement update(db_,
                   "UPDATE stations SET online = ?, session = ?, "
                   "since_ms = CASE WHEN ? THEN ? ELSE since_ms END WHERE id = ?");
  update.Bind(1, int64_t{status.online}).Bind(2, status.session).Bind(3, int64_t{flipped});
  update.Bind(4, now).Bind(5, station).Step();
  // What a lost station's sign shows is unknown from now on.
  if (!status.online) ClosePeriods(station, now);
  transaction.Commit();
  Changed(station);
  return true;
}

void OfficeStore::ClosePeriods(const std::string& station, Millis at) {
  Statement(db_, "UPDATE periods SET to_ms = MAX(from_ms, ?) WHERE station = ? AND to_ms IS NULL")
      .Bind(1, at)
      .Bind(2, station)
      .Step();
}

bool OfficeStore::TakeReported(const std::string& station, const tarvo_mqtt::Reported& reported,
                               Millis now) {
  Transaction transaction(db_);
  EnsureStation(db_, station);
  Statement known(db_,
                  "SELECT office_change_id, office_issuer, online FROM stations WHERE id = ?");
  known.Bind(1, station).Step();
  const std::string officeChange = known.Text(0);
  const std::string officeIssuer = known.Text(1);
  const std::optional<int64_t> online = known.OptionalInteger(2);
  const std::optional<Millis> readAt =
      reported.lastVerification ? std::optional(ToMillis(reported.lastVerification->at))
                                : std::nullopt;
  const std::optional<int64_t> readOk =
      reported.lastVerification ? std::optional<int64_t>(reported.lastVerification->ok)
                                : std::nullopt;
  const std::optional<Millis> verifiedAt =
      reported.verifiedAt ? std::optional(ToMillis(*reported.verifiedAt)) : std::nullopt;
  const bool verified = Verified(reported.state) && verifiedAt.has_value();
  json pending = json::array();
  for (const tarvo_mqtt::PendingRevision& entry : reported.pending)
    pending.push_back({{"rev", entry.rev},
                       {"change_id", entry.changeId},
                       {"effective_at", station::Rfc3339Utc(entry.effectiveAt)}});
  std::optional<std::string> override;
  if (reported.localOverride)
    override = json{{"change_id", reported.localOverride->changeId},
                    {"issuer", reported.localOverride->issuer},
                    {"at", station::Rfc3339Utc(reported.localOverride->at)},
                    {"panels", reported.localOverride->panels}}
                   .dump();
  const std::string panels = station::Dump(tarvo_mqtt::PanelsJson(reported.panels));
  Statement update(db_,
                   "UPDATE stations SET rev = ?, change_id = ?, state = ?, read_at_ms = ?, "
                   "verified_at_ms = ?, drift_count = ?, override = ?, pending = ?, version = ?, "
                   "boot_id = ?, panels = CASE WHEN ? THEN ? ELSE panels END, "
                   "checked_ms = COALESCE(?, checked_ms), "
                   "checked_ok = CASE WHEN ? IS NULL THEN checked_ok ELSE ? END WHERE id = ?");
  update.Bind(1, reported.rev).Bind(2, reported.changeId);
  update.Bind(3, std::string(tarvo_mqtt::StateName(reported.state)));
  update.Bind(4, readAt).Bind(5, verifiedAt).Bind(6, reported.driftCount).Bind(7, override);
  update.Bind(8, pending.dump()).Bind(9, reported.version).Bind(10, reported.bootId);
  update.Bind(11, int64_t{verified}).Bind(12, panels).Bind(13, readAt).Bind(14, readOk);
  update.Bind(15, readOk).Bind(16, station).Step();

  if (!verified || (online && *online == 0)) {
    ClosePeriods(station, readAt.value_or(now));
  } else {
    // Who asked for what the sign shows: the head office's change, or the
    // station's own on top of it.
    std::string issuer;
    if (reported.localOverride)
      issuer = reported.localOverride->issuer;
    else if (reported.changeId && *reported.changeId == officeChange)
      issuer = officeIssuer;
    const std::optional<std::string> changeId =
        reported.localOverride ? std::optional(reported.localOverride->changeId)
                               : reported.changeId;
    for (const station::PanelRequest& panel : reported.panels) {
      const json shown = station::RequestJson(panel);
      const std::optional<std::string> price =
          shown["price"].is_null() ? std::nullopt : std::optional<std::string>(shown["price"]);
      const std::optional<std::string> grade =
          shown["grade"].is_null() ? std::nullopt : std::optional<std::string>(shown["grade"]);
      const std::optional<int64_t> inscription =
          shown["inscription"].is_null() ? std::nullopt
                                         : std::optional<int64_t>(shown["inscription"]);
      Statement open(db_,
                     "SELECT id, price IS ? AND grade IS ? AND inscription IS ? FROM periods "
                     "WHERE station = ? AND address = ? AND to_ms IS NULL");
      open.Bind(1, price).Bind(2, grade).Bind(3, inscription).Bind(4, station);
      open.Bind(5, int64_t{panel.address});
      if (open.Step() && open.Integer(1) != 0) continue;  // still showing the same
      Statement(db_, "UPDATE periods SET to_ms = MAX(from_ms, ?) WHERE station = ? AND "
                     "address = ? AND to_ms IS NULL")
          .Bind(1, *verifiedAt)
          .Bind(2, station)
          .Bind(3, int64_t{panel.address})
          .Step();
      // A replayed old read-back never reaches back into a known gap.
      Statement last(db_, "SELECT MAX(to_ms) FROM periods WHERE station = ? AND address = ?");
      last.Bind(1, station).Bind(2, int64_t{panel.address}).Step();
      const Millis from = std::max(*verifiedAt, last.OptionalInteger(0).value_or(*verifiedAt));
      Statement insert(db_,
                       "INSERT INTO periods (station, address, price, grade, inscription, rev, "
                       "change_id, issuer, from_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
      insert.Bind(1, station).Bind(2, int64_t{panel.address}).Bind(3, price).Bind(4, grade);
      insert.Bind(5, inscription).Bind(6, reported.rev).Bind(7, changeId).Bind(8, issuer);
      insert.Bind(9, from).Step();
    }
  }
  transaction.Commit();
  Changed(station);
  return true;
}

bool OfficeStore::TakeDesired(const std::string& station, const tarvo_mqtt::Desired& desired,
                              Millis now) {
  Transaction transaction(db_);
  EnsureStation(db_, station);
  json scheduled = json::array();
  for (const tarvo_mqtt::ScheduledEntry& entry : desired.scheduled)
    scheduled.push_back({{"change_id", entry.changeId},
                         {"issuer", entry.issuer},
                         {"effective_at", station::Rfc3339Utc(entry.effectiveAt)},
                         {"panels", tarvo_mqtt::PanelsJson(entry.panels)}});
  Statement update(db_,
                   "UPDATE stations SET office_rev = ?, office_change_id = ?, office_issuer = ?, "
                   "office_scheduled = ?, office_since_ms = ? "
                   "WHERE id = ? AND (office_rev IS NULL OR office_rev < ?)");
  update.Bind(1, desired.rev).Bind(2, desired.changeId).Bind(3, desired.issuer);
  update.Bind(4, scheduled.dump()).Bind(5, now).Bind(6, station).Bind(7, desired.rev).Step();
  const bool changed = update.Changes() > 0;
  transaction.Commit();
  Changed(station);
  return changed;
}

bool OfficeStore::TakeEvent(const std::string& station, const tarvo_mqtt::Event& event,
                            Millis now) {
  Transaction transaction(db_);
  EnsureStation(db_, station);
  Statement insert(db_,
                   "INSERT OR IGNORE INTO events (station, key, at_ms, received_ms, kind, text, rev)"
                   " VALUES (?, ?, ?, ?, ?, ?, ?)");
  insert.Bind(1, station).Bind(2, EventKey(event)).Bind(3, ToMillis(event.at)).Bind(4, now);
  insert.Bind(5, event.kind).Bind(6, event.text).Bind(7, event.rev).Step();
  const bool added = insert.Changes() > 0;
  transaction.Commit();
  // A new station's first word may be an event.
  if (!cache_.count(station)) Changed(station);
  return added;
}

void OfficeStore::LoadStations(const std::optional<std::string>& only) const {
  const auto groups = Groups();
  std::map<std::string, json> memberOf;
  for (const auto& [name, members] : groups)
    for (const std::string& member : members) memberOf[member].push_back(name);
  Statement rows(db_,
                 "SELECT id, online, session, since_ms, office_rev, office_change_id, office_issuer,"
                 " office_scheduled, rev, change_id, state, read_at_ms, verified_at_ms, "
                 "drift_count, override, pending, panels, checked_ms, checked_ok, version, "
                 "office_since_ms FROM stations WHERE ? IS NULL OR id = ?");
  rows.Bind(1, only).Bind(2, only);
  while (rows.Step()) {
    const std::optional<int64_t> online = rows.OptionalInteger(1);
    const std::optional<int64_t> officeRev = rows.OptionalInteger(4);
    const std::optional<int64_t> rev = rows.OptionalInteger(8);
    const std::optional<int64_t> checked = rows.OptionalInteger(17);
    const std::optional<int64_t> checkedOk = rows.OptionalInteger(18);
    const std::string id = rows.Text(0);
    Cached& entry = cache_[id];
    // The station has not taken the office's latest plan.
    entry.lagging = officeRev && (!rev || *rev < *officeRev);
    entry.lagSince = rows.OptionalInteger(20).value_or(0);
    entry.station = {
        {"id", id},
        {"online", online ? json(*online != 0) : json()},
        {"since", TimeText(rows.OptionalInteger(3))},
        {"office_rev", officeRev ? json(*officeRev) : json()},
        {"office_change_id", rows.OptionalText(5) ? json(rows.Text(5)) : json()},
        {"office_issuer", rows.OptionalText(6) ? json(rows.Text(6)) : json()},
        {"office_scheduled", json::parse(rows.Text(7))},
        {"rev", rev ? json(*rev) : json()},
        {"lag_s", 0},
        {"lagging", entry.lagging},
        {"change_id", rows.OptionalText(9) ? json(rows.Text(9)) : json()},
        {"state", rows.OptionalText(10) ? json(rows.Text(10)) : json()},
        {"read_at", TimeText(rows.OptionalInteger(11))},
        {"verified_at", TimeText(rows.OptionalInteger(12))},
        {"drift_count", rows.Integer(13)},
        {"override", Parsed(rows.OptionalText(14))},
        {"pending", json::parse(rows.Text(15))},
        {"panels", json::parse(rows.Text(16))},
        {"last_verification",
         checked ? json{{"at", TimeText(checked)}, {"ok", checkedOk.value_or(0) != 0}} : json()},
        {"version", rows.OptionalText(19) ? json(rows.Text(19)) : json()},
        {"groups", memberOf.count(id) ? memberOf[id] : json::array()}};
  }
}

void OfficeStore::Refresh() const {
  if (!cacheComplete_) {
    cache_.clear();
    LoadStations(std::nullopt);
    cacheComplete_ = true;
  } else {
    for (const std::string& id : stale_) LoadStations(id);
  }
  stale_.clear();
  const Millis now = NowMillis();
  for (auto& [id, entry] : cache_)
    entry.station["lag_s"] = entry.lagging ? std::max<Millis>(0, now - entry.lagSince) / 1000 : 0;
}

void OfficeStore::Changed(const std::string& station) { stale_.insert(station); }

std::string OfficeStore::StationsText() const {
  Refresh();
  std::string text = "[";
  for (const auto& [id, entry] : cache_) {
    if (text.size() > 1) text += ',';
    text += entry.station.dump();
  }
  return text + "]";
}

json OfficeStore::Stations() const {
  Refresh();
  json list = json::array();
  for (const auto& [id, entry] : cache_) list.push_back(entry.station);
  return list;
}

std::optional<json> OfficeStore::Station(const std::string& id) const {
  Refresh();
  const auto found = cache_.find(id);
  if (found == cache_.end()) return std::nullopt;
  return found->second.station;
}

json OfficeStore::History(const std::string& station, std::optional<Millis> before,
                          int limit) const {
  Statement rows(db_,
                 "SELECT key, at_ms, kind, text, rev FROM events WHERE station = ? AND "
                 "(? IS NULL OR at_ms < ?) ORDER BY at_ms DESC, key DESC LIMIT ?");
  rows.Bind(1, station).Bind(2, before).Bind(3, before).Bind(4, int64_t{limit});
  json list = json::array();
  while (rows.Step())
    list.push_back({{"id", rows.Text(0)},
                    {"at", TimeText(rows.Integer(1))},
                    {"kind", rows.Text(2)},
                    {"text", rows.Text(3)},
                    {"rev", rows.OptionalInteger(4) ? json(rows.Integer(4)) : json()}});
  return list;
}

json OfficeStore::Periods(const std::vector<std::string>& stations, Millis from, Millis to) const {
  Statement rows(db_,
                 "SELECT station, address, price, grade, inscription, rev, change_id, issuer, "
                 "from_ms, to_ms FROM periods WHERE from_ms < ? AND (to_ms IS NULL OR to_ms > ?) "
                 "ORDER BY station, address, from_ms");
  rows.Bind(1, to).Bind(2, from);
  json list = json::array();
  while (rows.Step()) {
    const std::string station = rows.Text(0);
    if (!stations.empty() && std::find(stations.begin(), stations.end(), station) == stations.end())
      continue;
    list.push_back({{"station", station},
                    {"address", rows.Integer(1)},
                    {"price", rows.OptionalText(2) ? json(rows.Text(2)) : json()},
                    {"grade", rows.OptionalText(3) ? json(rows.Text(3)) : json()},
                    {"inscription", rows.OptionalInteger(4) ? json(rows.Integer(4)) : json()},
                    {"rev", rows.OptionalInteger(5) ? json(rows.Integer(5)) : json()},
                    {"change_id", rows.OptionalText(6) ? json(rows.Text(6)) : json()},
                    {"issuer", rows.Text(7)},
                    {"from", TimeText(rows.Integer(8))},
                    {"confirmed_at", TimeText(rows.Integer(8))},
                    {"to", TimeText(rows.OptionalInteger(9))}});
  }
  return list;
}

json OfficeStore::ShownAt(const std::string& station, Millis at) const {
  json panels = json::array();
  for (int address : {0, 1, 2, 3, 4, 8, 9, 10, 11, 12}) {
    Statement row(db_,
                  "SELECT price, grade, inscription, rev, change_id, issuer, from_ms, to_ms "
                  "FROM periods WHERE station = ? AND address = ? AND from_ms <= ? AND "
                  "(to_ms IS NULL OR to_ms > ?) ORDER BY from_ms DESC LIMIT 1");
    row.Bind(1, station).Bind(2, int64_t{address}).Bind(3, at).Bind(4, at);
    json panel = {{"address", address},
                  {"row", station::EntryRowOf(static_cast<uint8_t>(address))},
                  {"half", station::HalfOf(static_cast<uint8_t>(address))}};
    if (row.Step()) {
      panel["known"] = true;
      panel["price"] = row.OptionalText(0) ? json(row.Text(0)) : json();
      panel["grade"] = row.OptionalText(1) ? json(row.Text(1)) : json();
      panel["inscription"] = row.OptionalInteger(2) ? json(row.Integer(2)) : json();
      panel["rev"] = row.OptionalInteger(3) ? json(row.Integer(3)) : json();
      panel["change_id"] = row.OptionalText(4) ? json(row.Text(4)) : json();
      panel["issuer"] = row.Text(5);
      panel["from"] = TimeText(row.Integer(6));
      panel["to"] = TimeText(row.OptionalInteger(7));
    } else {
      panel["known"] = false;
      panel["price"] = "unknown";
    }
    panels.push_back(panel);
  }
  return panels;
}

int64_t OfficeStore::EventCount() const {
  Statement count(db_, "SELECT COUNT(*) FROM events");
  count.Step();
  return count.Integer(0);
}

std::map<std::string, std::vector<std::string>> OfficeStore::Groups() const {
  std::map<std::string, std::vector<std::string>> groups;
  Statement rows(db_, "SELECT name, station FROM groups ORDER BY name, station");
  while (rows.Step()) groups[rows.Text(0)].push_back(rows.Text(1));
  return groups;
}

void OfficeStore::SetGroup(const std::string& name, const std::vector<std::string>& stations) {
  Transaction transaction(db_);
  Statement(db_, "DELETE FROM groups WHERE name = ?").Bind(1, name).Step();
  for (const std::string& station : stations)
    Statement(db_, "INSERT OR IGNORE INTO groups (name, station) VALUES (?, ?)")
        .Bind(1, name)
        .Bind(2, station)
        .Step();
  transaction.Commit();
  cacheComplete_ = false;  // every station's groups
}

void OfficeStore::AddPush(const PushRecord& push) {
  Transaction transaction(db_);
  Statement insert(db_,
                   "INSERT INTO pushes (change_id, issuer, created_ms, effective_ms, panels, target,"
                   " cancels, brightness) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  insert.Bind(1, push.changeId).Bind(2, push.issuer).Bind(3, push.created);
  insert.Bind(4, push.effectiveAt).Bind(5, push.panels.dump()).Bind(6, push.target.dump());
  insert.Bind(7, push.cancels).Bind(8, push.brightness).Step();
  for (const PushStation& station : push.stations) {
    Statement row(db_,
                  "INSERT INTO push_stations (change_id, station, rev, outcome, detail, at_ms) "
                  "VALUES (?, ?, ?, ?, ?, ?)");
    row.Bind(1, push.changeId).Bind(2, station.station).Bind(3, station.rev);
    row.Bind(4, station.outcome).Bind(5, station.detail).Bind(6, station.at).Step();
  }
  transaction.Commit();
}

void OfficeStore::SetOutcome(const std::string& changeId, const PushStation& outcome) {
  Statement(db_,
            "UPDATE push_stations SET outcome = ?, detail = ?, at_ms = ? "
            "WHERE change_id = ? AND station = ?")
      .Bind(1, outcome.outcome)
      .Bind(2, outcome.detail)
      .Bind(3, outcome.at)
      .Bind(4, changeId)
      .Bind(5, outcome.station)
      .Step();
}

std::vector<PushStation> OfficeStore::PushStations(const std::string& changeId) const {
  std::vector<PushStation> list;
  Statement rows(db_,
                 "SELECT station, rev, outcome, detail, at_ms FROM push_stations "
                 "WHERE change_id = ? ORDER BY station");
  rows.Bind(1, changeId);
  while (rows.Step())
    list.push_back(
        {rows.Text(0), rows.Integer(1), rows.Text(2), rows.Text(3), rows.OptionalInteger(4)});
  return list;
}

std::vector<PushRecord> OfficeStore::PushRows(const std::optional<std::string>& changeId,
                                              int limit) const {
  std::vector<PushRecord> list;
  Statement rows(db_,
                 "SELECT change_id, issuer, created_ms, effective_ms, panels, target, cancels, "
                 "brightness FROM pushes WHERE ? IS NULL OR change_id = ? ORDER BY created_ms DESC LIMIT ?");
  rows.Bind(1, changeId).Bind(2, changeId).Bind(3, int64_t{limit});
  while (rows.Step()) {
    PushRecord& push = list.emplace_back();
    push.changeId = rows.Text(0);
    push.issuer = rows.Text(1);
    push.created = rows.Integer(2);
    push.effectiveAt = rows.OptionalInteger(3);
    push.panels = json::parse(rows.Text(4));
    push.target = json::parse(rows.Text(5));
    push.cancels = rows.OptionalText(6);
    push.brightness = rows.OptionalText(7);
  }
  for (PushRecord& push : list) {
    push.stations = PushStations(push.changeId);
    Statement cancels(db_, "SELECT change_id FROM pushes WHERE cancels = ? ORDER BY created_ms");
    cancels.Bind(1, push.changeId);
    while (cancels.Step()) push.cancelledBy.push_back(cancels.Text(0));
  }
  return list;
}

std::vector<PushRecord> OfficeStore::Pushes(int limit) const { return PushRows(std::nullopt, limit); }

std::optional<PushRecord> OfficeStore::Push(const std::string& changeId) const {
  std::vector<PushRecord> found = PushRows(changeId, 1);
  if (found.empty()) return std::nullopt;
  return std::move(found[0]);
}

std::vector<std::pair<std::string, PushStation>> OfficeStore::Waiting() const {
  std::vector<std::pair<std::string, PushStation>> list;
  Statement rows(db_,
                 "SELECT change_id, station, rev, outcome, detail, at_ms FROM push_stations "
                 "WHERE outcome = 'waiting'");
  while (rows.Step())
    list.push_back({rows.Text(0),
                    {rows.Text(1), rows.Integer(2), rows.Text(3), rows.Text(4),
                     rows.OptionalInteger(5)}});
  return list;
}

}  // namespace office
