#include "agent/state_db.h"

#include "agent/desired_state.h"

namespace agent {

// One prepared statement, finalised on every path.
class StateDb::Statement {
 public:
  Statement(StateDb& db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db.db_, sql, -1, &statement_, nullptr) != SQLITE_OK) db.Fail("prepare");
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Statement& Bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int index, const std::optional<int64_t>& value) {
    if (value) return Bind(index, *value);
    sqlite3_bind_null(statement_, index);
    return *this;
  }
  // True while there is a row.
  bool Step() {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result != SQLITE_DONE) db_.Fail("step");
    return false;
  }
  int64_t Integer(int column) { return sqlite3_column_int64(statement_, column); }
  std::optional<int64_t> OptionalInteger(int column) {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return Integer(column);
  }
  std::string Text(int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text == nullptr ? std::string() : std::string(text);
  }

 private:
  StateDb& db_;
  sqlite3_stmt* statement_ = nullptr;
};

namespace {

using nlohmann::json;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS changes (
  rev INTEGER PRIMARY KEY, -- the change's number, in the order accepted
  id TEXT NOT NULL UNIQUE,
  issuer TEXT NOT NULL,
  source_rev INTEGER,
  requested_at INTEGER NOT NULL,
  effective_at INTEGER,
  panels TEXT NOT NULL,
  brightness TEXT,
  state TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS agent_values (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS events (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  at INTEGER NOT NULL,
  kind TEXT NOT NULL,
  rev INTEGER,
  detail TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS events_at ON events (at);
)";

constexpr const char* kChangeColumns =
    "rev, id, issuer, source_rev, requested_at, effective_at, panels, brightness, state, state_rev";
constexpr const char* kEventColumns = "id, at, kind, change_number, rev, detail";

// A document stored by an older or damaged agent: the error names what and where.
json Parsed(const std::string& text, const std::string& what) {
  json value = json::parse(text, nullptr, false);
  if (value.is_discarded()) throw StoreError(what + " is not JSON: " + text.substr(0, 80));
  return value;
}

ChangeState StateFromName(const std::string& name) {
  for (ChangeState state : {ChangeState::kPending, ChangeState::kApplied, ChangeState::kSkipped,
                            ChangeState::kCancelled}) {
    if (name == StateName(state)) return state;
  }
  return ChangeState::kPending;
}

}  // namespace

StateDb::StateDb(const std::string& path) : path_(path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError("cannot open " + path + ": " + message);
  }
  try {
    sqlite3_busy_timeout(db_, 5000);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=FULL");
    Exec(kSchema);
    // Columns a database made by an earlier agent lacks.
    AddColumn("changes", "state_rev", "INTEGER");
    AddColumn("events", "change_number", "INTEGER");
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

StateDb::~StateDb() { sqlite3_close(db_); }

void StateDb::Fail(const std::string& what) {
  throw StoreError("database " + path_ + ": " + what + ": " + sqlite3_errmsg(db_));
}

void StateDb::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : "failed";
    sqlite3_free(message);
    throw StoreError("database " + path_ + ": " + text);
  }
}

void StateDb::AddColumn(const char* table, const char* column, const char* type) {
  Statement query(*this, (std::string("SELECT COUNT(*) FROM pragma_table_info('") + table + "') WHERE name = ?").c_str());
  query.Bind(1, std::string(column));
  query.Step();
  if (query.Integer(0) == 0) Exec((std::string("ALTER TABLE ") + table + " ADD COLUMN " + column + " " + type).c_str());
}

void StateDb::Begin() { Exec("BEGIN IMMEDIATE"); }
void StateDb::Commit() { Exec("COMMIT"); }
void StateDb::Rollback() {
  if (!sqlite3_get_autocommit(db_)) Exec("ROLLBACK");
}

int64_t StateDb::LastChangeNumber() {
  Statement query(*this, "SELECT COALESCE(MAX(rev), 0) FROM changes");
  query.Step();
  return query.Integer(0);
}

void StateDb::InsertChange(const Change& change) {
  const ChangeRequest& r = change.request;
  Statement insert(*this,
                   "INSERT INTO changes (rev, id, issuer, source_rev, requested_at, effective_at, "
                   "panels, brightness, state, state_rev) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.Bind(1, change.number).Bind(2, change.id).Bind(3, r.issuer).Bind(4, r.sourceRev);
  insert.Bind(5, change.requestedAt).Bind(6, r.effectiveAt).Bind(7, RequestsJson(r.panels).dump());
  if (r.brightness) insert.Bind(8, *r.brightness);
  insert.Bind(9, std::string(StateName(change.state))).Bind(10, change.stateRev);
  insert.Step();
}

void StateDb::SetChangeState(int64_t number, ChangeState state, std::optional<int64_t> stateRev) {
  Statement update(*this, "UPDATE changes SET state = ?, state_rev = ? WHERE rev = ?");
  update.Bind(1, std::string(StateName(state))).Bind(2, stateRev).Bind(3, number);
  update.Step();
}

namespace {

template <typename Query>
Change ChangeFromRow(Query& row, const std::string& path) {
  Change change;
  change.number = row.Integer(0);
  change.id = row.Text(1);
  change.request.issuer = row.Text(2);
  change.request.sourceRev = row.OptionalInteger(3);
  change.requestedAt = row.Integer(4);
  change.request.effectiveAt = row.OptionalInteger(5);
  const std::string what = "change " + std::to_string(change.number) + " in " + path;
  try {
    change.request.panels = RequestsFromJson(Parsed(row.Text(6), what));
  } catch (const json::exception& error) {
    throw StoreError(what + ": " + error.what());
  }
  const std::string brightness = row.Text(7);
  if (!brightness.empty()) change.request.brightness = brightness;
  change.state = StateFromName(row.Text(8));
  change.stateRev = row.OptionalInteger(9);
  return change;
}

}  // namespace

std::vector<Change> StateDb::Changes(ChangeState state) {
  Statement query(*this, (std::string("SELECT ") + kChangeColumns +
                          " FROM changes WHERE state = ? ORDER BY effective_at, rev")
                             .c_str());
  query.Bind(1, std::string(StateName(state)));
  std::vector<Change> changes;
  while (query.Step()) changes.push_back(ChangeFromRow(query, path_));
  return changes;
}

std::optional<Change> StateDb::ChangeById(const std::string& id) {
  Statement query(*this, (std::string("SELECT ") + kChangeColumns + " FROM changes WHERE id = ?").c_str());
  query.Bind(1, id);
  if (!query.Step()) return std::nullopt;
  return ChangeFromRow(query, path_);
}

std::optional<json> StateDb::Value(const std::string& key) {
  Statement query(*this, "SELECT value FROM agent_values WHERE key = ?");
  query.Bind(1, key);
  if (!query.Step()) return std::nullopt;
  return Parsed(query.Text(0), "the value " + key + " in " + path_);
}

void StateDb::SetValue(const std::string& key, const json& value) {
  Statement upsert(*this,
                   "INSERT INTO agent_values (key, value) VALUES (?, ?) "
                   "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
  upsert.Bind(1, key).Bind(2, value.dump(-1, ' ', false, json::error_handler_t::replace));
  upsert.Step();
}

int64_t StateDb::AddEvent(const Event& event) {
  Statement insert(*this, "INSERT INTO events (at, kind, change_number, rev, detail) VALUES (?, ?, ?, ?, ?)");
  insert.Bind(1, event.at).Bind(2, std::string(station::EventKindName(event.kind))).Bind(3, event.change);
  insert.Bind(4, event.rev).Bind(5, event.detail.dump(-1, ' ', false, json::error_handler_t::replace));
  insert.Step();
  return sqlite3_last_insert_rowid(db_);
}

std::vector<Event> StateDb::Events(int64_t since, int limit) {
  return EventRows("SELECT * FROM (SELECT * FROM events WHERE at >= ? ORDER BY id DESC LIMIT ?) ORDER BY id", since,
                   limit);
}

std::vector<Event> StateDb::EventsAfter(int64_t afterId, int limit) {
  return EventRows("SELECT * FROM events WHERE id > ? ORDER BY id LIMIT ?", afterId, limit);
}

// A detail a damaged database holds is shown as it is, not allowed to hide
// the rest of the history; a kind this agent does not know is left out.
std::vector<Event> StateDb::EventRows(const char* sql, int64_t from, int limit) {
  Statement query(*this, (std::string("SELECT ") + kEventColumns + " FROM (" + sql + ")").c_str());
  query.Bind(1, from).Bind(2, static_cast<int64_t>(limit));
  std::vector<Event> events;
  while (query.Step()) {
    Event event{query.Integer(0), query.Integer(1), station::EventKind::kAgentStarted, query.OptionalInteger(3),
                query.OptionalInteger(4), json::parse(query.Text(5), nullptr, false)};
    const std::optional<station::EventKind> known = station::EventKindFromName(query.Text(2));
    if (!known) continue;
    event.kind = *known;
    if (event.detail.is_discarded()) event.detail = {{"unreadable", query.Text(5)}};
    events.push_back(std::move(event));
  }
  return events;
}

}  // namespace agent
