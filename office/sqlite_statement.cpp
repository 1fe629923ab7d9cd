#include "office/sqlite_statement.h"

namespace office {

Database::Database(const std::string& path) : path_(path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK)
    Fail("open");
  sqlite3_busy_timeout(db_, 5000);
  // WAL with NORMAL: a committed transaction survives the process being
  // killed; only a power cut may take the last ones, never the file.
  Execute("PRAGMA journal_mode=WAL");
  Execute("PRAGMA synchronous=NORMAL");
  Execute("PRAGMA foreign_keys=ON");
}

Database::~Database() {
  for (auto& [sql, statements] : kept_)
    for (sqlite3_stmt* statement : statements) sqlite3_finalize(statement);
  sqlite3_close(db_);
}

sqlite3_stmt* Database::Take(const char* sql) {
  std::vector<sqlite3_stmt*>& free = kept_[sql];
  if (!free.empty()) {
    sqlite3_stmt* statement = free.back();
    free.pop_back();
    return statement;
  }
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
    Fail("prepare");
  return statement;
}

void Database::Give(const char* sql, sqlite3_stmt* statement) {
  if (statement == nullptr) return;
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  kept_[sql].push_back(statement);
}

void Database::Execute(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string text = error ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error(path_ + ": " + text);
  }
}

void Database::Fail(const std::string& what) const {
  throw std::runtime_error(path_ + ": " + what + ": " +
                           (db_ ? sqlite3_errmsg(db_) : "cannot allocate"));
}

Statement::Statement(Database& db, const char* sql) : db_(db), sql_(sql), statement_(db.Take(sql)) {}

Statement& Statement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(statement_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, const std::string& text) {
  sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::Bind(int index, const std::optional<int64_t>& value) {
  if (value) return Bind(index, *value);
  sqlite3_bind_null(statement_, index);
  return *this;
}

Statement& Statement::Bind(int index, const std::optional<std::string>& value) {
  if (value) return Bind(index, *value);
  sqlite3_bind_null(statement_, index);
  return *this;
}

bool Statement::Step() {
  const int result = sqlite3_step(statement_);
  if (result == SQLITE_ROW) return true;
  if (result != SQLITE_DONE) db_.Fail("step");
  return false;
}

std::optional<int64_t> Statement::OptionalInteger(int column) {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return Integer(column);
}

std::string Statement::Text(int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  return text == nullptr ? std::string() : std::string(text);
}

std::optional<std::string> Statement::OptionalText(int column) {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return Text(column);
}

}  // namespace office
