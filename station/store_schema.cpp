#include "station/store_schema.h"

#include <cstdlib>

#include "os/host.h"

namespace {

// `{id}` stands for the engine's self-numbered row id.
std::string WithIds(std::string sql, const SqlConnection& connection) {
  const std::string marker = "{id}";
  for (std::size_t at = sql.find(marker); at != std::string::npos; at = sql.find(marker, at)) {
    sql.replace(at, marker.size(), connection.IdColumn());
  }
  return sql;
}

// The version recorded; 0 for a database without the table. denied: the role
// may not read the table.
int RecordedVersion(SqlConnection& connection, bool& known, bool* denied = nullptr) {
  const SqlResult r = connection.Run("SELECT MAX(version) FROM schema_migrations", {});
  known = r.ok;
  if (denied != nullptr) *denied = r.denied;
  if (!r.ok || r.rows.empty() || !r.rows[0][0]) return 0;
  return static_cast<int>(std::strtol(r.rows[0][0]->c_str(), nullptr, 10));
}

}  // namespace

std::vector<Migration> Migrations(const SqlConnection& c) {
  return {
      {1,
       "serial ranges, allocations and runs",
       {WithIds("CREATE TABLE serial_ranges ("
                " id {id},"
                " first_serial TEXT NOT NULL UNIQUE,"
                " prefix TEXT NOT NULL,"
                " width INTEGER NOT NULL,"
                " next_value BIGINT NOT NULL,"
                " last_value BIGINT NOT NULL,"
                " imported_until BIGINT NOT NULL,"
                " created_at TEXT NOT NULL,"
                " UNIQUE (prefix, width))",
                c),
        WithIds("CREATE TABLE allocations ("
                " id {id},"
                " range_id BIGINT NOT NULL REFERENCES serial_ranges (id),"
                " serial TEXT NOT NULL,"
                " serial_value BIGINT NOT NULL,"
                " state TEXT NOT NULL CHECK (state IN"
                "  ('pending', 'programmed', 'verified', 'failed', 'returned', 'released')),"
                " reissued INTEGER NOT NULL DEFAULT 0,"
                " station TEXT NOT NULL,"
                " slot TEXT NOT NULL,"
                " operator_name TEXT NOT NULL,"
                " sha256 TEXT NOT NULL,"
                " identity_before TEXT NOT NULL,"
                " allocated_at TEXT NOT NULL,"
                " finished_at TEXT,"
                " cause TEXT,"
                " released_by TEXT,"
                " released_at TEXT)",
                c),
        "CREATE INDEX allocations_serial ON allocations (serial)",
        "CREATE INDEX allocations_pool ON allocations (range_id, state, reissued)",
        WithIds("CREATE TABLE runs ("
                " id {id},"
                " allocation_id BIGINT REFERENCES allocations (id),"
                " run_at TEXT NOT NULL,"
                " command TEXT NOT NULL,"
                " station TEXT NOT NULL,"
                " slot TEXT NOT NULL,"
                " operator_name TEXT NOT NULL,"
                " serial TEXT,"
                " sha256 TEXT NOT NULL,"
                " result TEXT NOT NULL,"
                " record TEXT NOT NULL)",
                c),
        "CREATE INDEX runs_serial ON runs (serial)",
        "CREATE INDEX runs_run_at ON runs (run_at)"}},
      {2,
       "leases on pending numbers, conflicts of runs whose number was released",
       {// Until when a pending number's station shows its run is alive (UTC, as
        // allocated_at); a release before then is refused.
        "ALTER TABLE allocations ADD COLUMN lease_until TEXT",
        // What a run found when it ended and its number was no longer pending.
        "ALTER TABLE runs ADD COLUMN conflict TEXT"}},
      // Which approved job a number was handed out for and a run came from:
      // null where there was none, a null signer for an unsigned job.
      {3,
       "jobs",
       {"ALTER TABLE allocations ADD COLUMN job_name TEXT",
        "ALTER TABLE allocations ADD COLUMN job_sha256 TEXT",
        "ALTER TABLE allocations ADD COLUMN job_signer TEXT",
        "ALTER TABLE runs ADD COLUMN job_name TEXT",
        "ALTER TABLE runs ADD COLUMN job_sha256 TEXT",
        "ALTER TABLE runs ADD COLUMN job_signer TEXT",
        "CREATE INDEX runs_job ON runs (job_name)"}},
      // When a number scanned from a board's label was bound to its slot (the
      // slot is the allocation's): null for a number counted from the range.
      {4, "scanned serial numbers", {"ALTER TABLE allocations ADD COLUMN scanned_at TEXT"}},
  };
}

StoreError MigrateSchema(SqlConnection& connection) {
  bool known = false;
  bool denied = false;
  int version = RecordedVersion(connection, known, &denied);
  if (denied) {
    return {StoreFailure::kUnusable,
            "the role lacks the right to read the station database's tables (schema_migrations); the database's "
            "owner must grant it (docs/station-database.md)"};
  }
  if (version > schema_const::kVersion) {
    return {StoreFailure::kUnusable, "the database's schema is version " + std::to_string(version) +
                                         ", newer than this tool's " + std::to_string(schema_const::kVersion)};
  }
  if (version == schema_const::kVersion) return {};

  const auto fail = [&connection](const SqlResult& r) {
    connection.Run("ROLLBACK", {});
    if (r.denied) {
      return StoreError{StoreFailure::kUnusable,
                        "the role lacks the right to bring the database's schema up to date (to create or change its "
                        "tables): " + r.error + "; the database's owner must run tovrin-cli db init once"};
    }
    return StoreError{StoreFailure::kUnusable, std::string("cannot bring the database's schema up to date: ") + r.error};
  };
  SqlResult r = connection.Run(connection.BeginWrite(), {});
  if (!r.ok) return fail(r);
  r = connection.Run(connection.MigrationLock(), {});
  if (!r.ok) return fail(r);
  r = connection.Run("CREATE TABLE IF NOT EXISTS schema_migrations ("
                     " version INTEGER PRIMARY KEY, description TEXT NOT NULL, applied_at TEXT NOT NULL)",
                     {});
  if (!r.ok) return fail(r);
  // Another station may have migrated while this one waited for the lock.
  version = RecordedVersion(connection, known);
  for (const Migration& m : Migrations(connection)) {
    if (m.version <= version) continue;
    for (const std::string& statement : m.statements) {
      r = connection.Run(statement, {});
      if (!r.ok) return fail(r);
    }
    r = connection.Run("INSERT INTO schema_migrations (version, description, applied_at) VALUES ($1, $2, $3)",
                       {std::to_string(m.version), m.description, UtcNowText()});
    if (!r.ok) return fail(r);
  }
  r = connection.Run("COMMIT", {});
  if (!r.ok) return fail(r);
  return {};
}
