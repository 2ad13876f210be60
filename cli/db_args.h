#pragma once

// The command line of `tovrin-cli db` and the station database's options of
// program and batch.

#include <CLI/CLI.hpp>

#include "cli/cli_options.h"

// --db and --operator on a command that runs boards.
void AddStationOptions(CLI::App& command, CliOptions& options);

// The db command and its own commands; after parsing, DbActionParsed tells
// which one ran.
struct DbCommand {
  CLI::App* db = nullptr;
  CLI::App* init = nullptr;
  CLI::App* pending = nullptr;
  CLI::App* release = nullptr;
  CLI::App* report = nullptr;
  CLI::App* find = nullptr;
  CLI::App* importState = nullptr;
};
DbCommand AddDbCommand(CLI::App& app, CliOptions& options);
// An ISO 8601 date or time as the runs are stored: UTC, "2026-01-31T08:00:00.000Z".
// Accepted: YYYY-MM-DD, then optionally THH:MM, :SS and a fraction, and Z or an
// offset (+HH:MM, +HHMM, +HH), which is converted to UTC; no offset is UTC. A
// date alone stands for the start of its day, or its last millisecond with
// endOfDay (--to). False for anything else (a day the month does not have,
// "2026-12-8", "yesterday").
bool UtcTimeOf(const std::string& text, bool endOfDay, std::string& utc);

void DbActionParsed(const DbCommand& command, CliOptions& options);
