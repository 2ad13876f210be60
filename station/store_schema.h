#pragma once

// The station database's schema, created and brought up to date by the tool
// itself: each version is a list of statements, applied in one transaction and
// recorded in schema_migrations. docs/station-database.md describes the tables.

#include <string>
#include <vector>

#include "station/serial_store.h"
#include "station/sql_connection.h"

namespace schema_const {
constexpr int kVersion = 4;  // the newest version this tool knows
}

struct Migration {
  int version;
  const char* description;
  std::vector<std::string> statements;
};

// Every migration, oldest first, in the connection's dialect.
std::vector<Migration> Migrations(const SqlConnection& connection);

// Brings the database up to kVersion. A database newer than this tool is
// refused: its tables may mean something this tool does not know.
StoreError MigrateSchema(SqlConnection& connection);
