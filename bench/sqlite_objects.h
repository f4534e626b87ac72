// The peer's side of the object database benchmarks: SQLite holding the records the object
// database stores (a 4-byte class signature and two points, 36 bytes) in a table keyed by
// identifier, with a rollback journal, synchronous NORMAL and qorv's 64 MiB page cache (SQLite's
// default 2 MiB would flatter qorv). Statements are prepared once, as a careful user does.
#pragma once

#include <cstring>
#include <string>

#include <sqlite3.h>

namespace qorv::bench {

class SqliteObjects {
 public:
  explicit SqliteObjects(const std::string& path) {
    sqlite3_open(path.c_str(), &db_);
    exec("PRAGMA journal_mode=DELETE");
    exec("PRAGMA synchronous=NORMAL");
    exec("PRAGMA cache_size=-65536");
    exec("CREATE TABLE objects(id INTEGER PRIMARY KEY, rec BLOB)");
    sqlite3_prepare_v2(db_, "INSERT INTO objects VALUES(?, ?)", -1, &insert_, nullptr);
    sqlite3_prepare_v2(db_, "SELECT rec FROM objects WHERE id = ?", -1, &select_, nullptr);
    sqlite3_prepare_v2(db_, "DELETE FROM objects WHERE id = ?", -1, &erase_, nullptr);
  }
  ~SqliteObjects() {
    sqlite3_finalize(insert_);
    sqlite3_finalize(select_);
    sqlite3_finalize(erase_);
    sqlite3_close(db_);
  }
  SqliteObjects(const SqliteObjects&) = delete;
  SqliteObjects& operator=(const SqliteObjects&) = delete;

  void exec(const char* sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
  // The segment (a, b)-(b, a) under id.
  void store(long id, double a, double b) {
    unsigned char rec[36] = {1, 0, 0, 0};
    const double p[4] = {a, b, b, a};
    std::memcpy(rec + 4, p, 32);
    sqlite3_bind_int64(insert_, 1, id);
    sqlite3_bind_blob(insert_, 2, rec, sizeof rec, SQLITE_STATIC);
    sqlite3_step(insert_);
    sqlite3_reset(insert_);
  }
  // The first coordinate of the record under id, 0 when absent.
  double fetch(long id) {
    double x = 0;
    sqlite3_bind_int64(select_, 1, id);
    if (sqlite3_step(select_) == SQLITE_ROW)
      std::memcpy(&x, static_cast<const unsigned char*>(sqlite3_column_blob(select_, 0)) + 4, 8);
    sqlite3_reset(select_);
    return x;
  }
  void erase(long id) {
    sqlite3_bind_int64(erase_, 1, id);
    sqlite3_step(erase_);
    sqlite3_reset(erase_);
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* erase_ = nullptr;
};

}  // namespace qorv::bench
