#pragma once
// The agent's durable state in SQLite (WAL, synchronous FULL): the changes,
// a few named values (the desired state, its revision, the last read-back...)
// and the history of events. A change is committed before anyone is told it
// was taken. Every error names the database file.

#include <sqlite3.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/change.h"
#include "station/event_kind.h"

namespace agent {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Event {
  int64_t id = 0;  // the history's row: stable, growing, the event's name for every listener
  int64_t at = 0;  // milliseconds since the epoch
  station::EventKind kind = station::EventKind::kAgentStarted;
  std::optional<int64_t> change;  // the number of the change it concerns
  std::optional<int64_t> rev;     // the state revision it concerns
  nlohmann::json detail;
};

class StateDb {
 public:
  // Opens (creating) the database file; throws StoreError.
  explicit StateDb(const std::string& path);
  ~StateDb();
  StateDb(const StateDb&) = delete;
  StateDb& operator=(const StateDb&) = delete;

  const std::string& Path() const { return path_; }

  // Everything between Begin and Commit lands together or not at all.
  void Begin();
  void Commit();
  void Rollback();

  int64_t LastChangeNumber();
  void InsertChange(const Change& change);
  void SetChangeState(int64_t number, ChangeState state, std::optional<int64_t> stateRev);
  std::vector<Change> Changes(ChangeState state);  // by effective time, then number
  std::optional<Change> ChangeById(const std::string& id);

  std::optional<nlohmann::json> Value(const std::string& key);
  void SetValue(const std::string& key, const nlohmann::json& value);

  int64_t AddEvent(const Event& event);
  // Events at or after since, oldest first, at most limit of the newest.
  std::vector<Event> Events(int64_t since, int limit);
  // Events after the one with id afterId, oldest first, at most limit: what a
  // listener that last heard afterId missed.
  std::vector<Event> EventsAfter(int64_t afterId, int limit);

 private:
  class Statement;
  void Exec(const char* sql);
  [[noreturn]] void Fail(const std::string& what);
  void AddColumn(const char* table, const char* column, const char* type);
  std::vector<Event> EventRows(const char* sql, int64_t from, int limit);
  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace agent
