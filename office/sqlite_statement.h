#pragma once
// SQLite with its failures as exceptions: the connection (WAL, foreign keys),
// one prepared statement finalised on every path, and a transaction that
// rolls back unless committed.

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>
#include <stdexcept>
#include <string>

namespace office {

class Database {
 public:
  explicit Database(const std::string& path);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Execute(const char* sql);
  [[noreturn]] void Fail(const std::string& what) const;
  sqlite3* Handle() const { return db_; }

  // Prepared statements are kept by their text (a literal's address) and
  // used again: preparing costs more than running most of ours.
  sqlite3_stmt* Take(const char* sql);
  void Give(const char* sql, sqlite3_stmt* statement);

 private:
  sqlite3* db_ = nullptr;
  std::map<const char*, std::vector<sqlite3_stmt*>> kept_;
  std::string path_;
};

class Statement {
 public:
  Statement(Database& db, const char* sql);
  ~Statement() { db_.Give(sql_, statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, const std::string& text);
  Statement& Bind(int index, const std::optional<int64_t>& value);
  Statement& Bind(int index, const std::optional<std::string>& value);
  // True while there is a row.
  bool Step();
  int64_t Integer(int column) { return sqlite3_column_int64(statement_, column); }
  std::optional<int64_t> OptionalInteger(int column);
  std::string Text(int column);
  std::optional<std::string> OptionalText(int column);
  // Changed rows of the last step.
  int Changes() const { return sqlite3_changes(db_.Handle()); }

 private:
  Database& db_;
  const char* sql_;
  sqlite3_stmt* statement_ = nullptr;
};

class Transaction {
 public:
  explicit Transaction(Database& db) : db_(db) { db_.Execute("BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (!done_) sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit() {
    db_.Execute("COMMIT");
    done_ = true;
  }

 private:
  Database& db_;
  bool done_ = false;
};

}  // namespace office
