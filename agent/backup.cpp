#include "agent/backup.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace agent {

namespace {

struct Connection {
  sqlite3* db = nullptr;
  ~Connection() { sqlite3_close_v2(db); }
};

[[noreturn]] void Fail(const std::string& file, const std::string& what) {
  throw std::runtime_error(file + ": " + what);
}

void SyncFile(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) {
    if (fd >= 0) close(fd);
    Fail(path, "cannot be synced to disk");
  }
  close(fd);
}

}  // namespace

void BackUpDatabase(const std::string& database, const std::string& copy) {
  Connection source;
  if (sqlite3_open_v2(database.c_str(), &source.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    Fail(database, std::string("cannot open it: ") + sqlite3_errmsg(source.db));
  // The agent commits often and briefly; wait for it rather than fail.
  sqlite3_busy_timeout(source.db, 10000);
  const std::string partial = copy + ".partial";
  std::remove(partial.c_str());
  Connection target;
  if (sqlite3_open_v2(partial.c_str(), &target.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK)
    Fail(partial, std::string("cannot create it: ") + sqlite3_errmsg(target.db));
  sqlite3_backup* backup = sqlite3_backup_init(target.db, "main", source.db, "main");
  if (backup == nullptr)
    Fail(database, std::string("cannot back it up: ") + sqlite3_errmsg(target.db));
  // All pages in one step: one read transaction, so the copy is one moment of the database.
  const int stepped = sqlite3_backup_step(backup, -1);
  sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE) {
    std::remove(partial.c_str());
    Fail(database, std::string("backup stopped: ") + sqlite3_errstr(stepped));
  }
  char* message = nullptr;
  if (sqlite3_exec(target.db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, &message) !=
      SQLITE_OK) {
    const std::string error = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    std::remove(partial.c_str());
    Fail(partial, error);
  }
  sqlite3_close_v2(target.db);
  target.db = nullptr;
  SyncFile(partial, O_RDONLY);
  if (std::rename(partial.c_str(), copy.c_str()) != 0) {
    std::remove(partial.c_str());
    Fail(copy, "cannot replace it");
  }
  const size_t slash = copy.rfind('/');
  SyncFile(slash == std::string::npos ? "."
           : slash == 0               ? "/"
                                      : copy.substr(0, slash),
           O_RDONLY | O_DIRECTORY);
}

}  // namespace agent
