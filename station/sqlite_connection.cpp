// SQLite on one station: WAL, so that readers never wait for the writer and
// several slots and processes share the file; a busy time-out, so that writers
// take turns instead of failing; synchronous=FULL, so that a committed
// allocation survives a power cut (WAL's usual NORMAL may lose the last
// transactions, and with them numbers already stamped on boards).

#include <sqlite3.h>

#include "station/sql_connection.h"

namespace {

class SqliteConnection : public SqlConnection {
 public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}
  ~SqliteConnection() override { sqlite3_close_v2(db_); }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  const char* Engine() const override { return "SQLite"; }
  std::string Reconnect() override { return ""; }  // a file does not go away

  SqlResult Run(const std::string& sql, const std::vector<SqlValue>& params) override {
    SqlResult result;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) != SQLITE_OK) {
      return Failed(result);
    }
    Statement statement(raw);
    for (std::size_t i = 0; i < params.size(); ++i) {
      std::string name = "$";
      name += std::to_string(i + 1);
      const int at = sqlite3_bind_parameter_index(raw, name.c_str());
      if (at == 0) continue;  // a parameter this statement does not use
      const int bound = params[i] ? sqlite3_bind_text(raw, at, params[i]->c_str(), static_cast<int>(params[i]->size()),
                                                      SQLITE_TRANSIENT)
                                  : sqlite3_bind_null(raw, at);
      if (bound != SQLITE_OK) return Failed(result);
    }
    for (;;) {
      const int step = sqlite3_step(raw);
      if (step == SQLITE_DONE) return result;
      if (step != SQLITE_ROW) return Failed(result);
      SqlRow row;
      for (int c = 0; c < sqlite3_column_count(raw); ++c) {
        const unsigned char* text = sqlite3_column_text(raw, c);
        if (text == nullptr) {
          row.emplace_back();
        } else {
          row.emplace_back(std::string(reinterpret_cast<const char*>(text),
                                       static_cast<std::size_t>(sqlite3_column_bytes(raw, c))));
        }
      }
      result.rows.push_back(std::move(row));
    }
  }

  const char* BeginWrite() const override { return "BEGIN IMMEDIATE"; }
  const char* ForUpdate() const override { return ""; }  // BEGIN IMMEDIATE already took the file's write lock
  const char* MigrationLock() const override { return "SELECT 1"; }
  const char* LazyCommitBefore() const override { return "PRAGMA synchronous=NORMAL"; }
  bool LazyCommitInside() const override { return false; }
  const char* LazyCommitAfter() const override { return "PRAGMA synchronous=FULL"; }
  const char* IdColumn() const override { return "INTEGER PRIMARY KEY"; }

 private:
  struct Statement {
    explicit Statement(sqlite3_stmt* s) : stmt(s) {}
    ~Statement() { sqlite3_finalize(stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* stmt;
  };

  SqlResult& Failed(SqlResult& result) const {
    const int code = sqlite3_errcode(db_) & 0xFF;
    result.ok = false;
    result.retry = code == SQLITE_BUSY || code == SQLITE_LOCKED;
    result.error = sqlite3_errmsg(db_);
    result.rows.clear();
    return result;
  }

  sqlite3* db_;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, int busyMs, bool create, std::string& error) {
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &db,
                                     SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (opened != SQLITE_OK) {
    error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, busyMs);
  auto connection = std::make_unique<SqliteConnection>(db);
  for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
    const SqlResult r = connection->Run(pragma, {});
    if (!r.ok) {
      error = r.error;
      return nullptr;
    }
  }
  return connection;
}
