#pragma once

// One connection to a database engine, as the SQL store uses it: statements
// with $1, $2 ... parameters, every value and column as text (NULL as nothing),
// and the few places the engines' SQL differs. SQLite and PostgreSQL each have
// one file that implements it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

using SqlValue = std::optional<std::string>;
using SqlRow = std::vector<SqlValue>;

struct SqlResult {
  bool ok = true;
  // Another writer got in the way (busy past the time-out, a serialization
  // failure, a deadlock): the whole transaction may be tried again.
  bool retry = false;
  // The role may not do this (PostgreSQL's insufficient_privilege): no retry
  // and no schema change helps; the database's owner must grant the right.
  bool denied = false;
  std::string error;
  std::vector<SqlRow> rows;
};

class SqlConnection {
 public:
  virtual ~SqlConnection() = default;
  virtual const char* Engine() const = 0;  // "SQLite", "PostgreSQL"
  // Opens the connection again when it was lost; the reason when that fails.
  virtual std::string Reconnect() = 0;
  virtual SqlResult Run(const std::string& sql, const std::vector<SqlValue>& params = {}) = 0;
  // Starts a transaction that will write, waiting at its start for the writer
  // before it (SQLite takes the write lock here; PostgreSQL locks rows as it goes).
  virtual const char* BeginWrite() const = 0;
  // Appended to the SELECT of the row every allocation of a range goes
  // through, so that allocations of one range take turns.
  virtual const char* ForUpdate() const = 0;
  // Run first in a migration's transaction, so that two stations meeting an
  // empty database do not both create the schema.
  virtual const char* MigrationLock() const = 0;
  // Statements around a transaction whose loss in a power cut costs nothing but
  // a record (a run's end: its number then stays pending, which is safe): the
  // commit does not wait for the disk. `before` runs before BEGIN (SQLite) or
  // right after it (PostgreSQL), `after` once the transaction is over.
  virtual const char* LazyCommitBefore() const = 0;
  virtual bool LazyCommitInside() const = 0;
  virtual const char* LazyCommitAfter() const = 0;
  // The type of a row id that the engine numbers itself.
  virtual const char* IdColumn() const = 0;
};

// Null with the reason when the database cannot be opened. busyMs: how long a
// SQLite statement waits for another writer.
// create: make the file when it does not exist; otherwise a missing file fails.
std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, int busyMs, bool create, std::string& error);
std::unique_ptr<SqlConnection> OpenPostgres(const std::string& url, std::string& error);
