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
  CLI::App* pending = nullptr;
  CLI::App* release = nullptr;
  CLI::App* report = nullptr;
  CLI::App* find = nullptr;
  CLI::App* importState = nullptr;
};
DbCommand AddDbCommand(CLI::App& app, CliOptions& options);
void DbActionParsed(const DbCommand& command, CliOptions& options);
