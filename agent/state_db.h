#pragma once
// The agent's durable state in SQLite (WAL, synchronous FULL): the changes
// with their revisions, a few named values (the desired state, the current
// revision, the last read-back...) and the history of events. A change is
// committed before anyone is told it was taken.

#include <sqlite3.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/change.h"

namespace agent {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Event {
  int64_t id = 0;
  int64_t at = 0;  // milliseconds since the epoch
  std::string kind;
  std::optional<int64_t> rev;
  nlohmann::json detail;
};

class StateDb {
 public:
  // Opens (creating) the database file; throws StoreError.
  explicit StateDb(const std::string& path);
  ~StateDb();
  StateDb(const StateDb&) = delete;
  StateDb& operator=(const StateDb&) = delete;

  // Everything between Begin and Commit lands together or not at all.
  void Begin();
  void Commit();
  void Rollback();

  int64_t LastRev();
  void InsertChange(const Change& change);
  void SetChangeState(int64_t rev, ChangeState state);
  std::vector<Change> Changes(ChangeState state);  // by effective time, then revision
  std::optional<Change> ChangeById(const std::string& id);

  std::optional<nlohmann::json> Value(const std::string& key);
  void SetValue(const std::string& key, const nlohmann::json& value);

  int64_t AddEvent(const Event& event);
  // Events at or after since, oldest first, at most limit of the newest.
  std::vector<Event> Events(int64_t since, int limit);
  // Forgets the events before `at`; how many there were.
  int64_t DeleteEventsBefore(int64_t at);

 private:
  class Statement;
  void Exec(const char* sql);
  [[noreturn]] void Fail(const std::string& what);
  sqlite3* db_ = nullptr;
};

}  // namespace agent
