#pragma once

// The commands of tovrin-cli. Each returns the process's exit status and
// writes only to the streams it is given, so tests run them in-process.

#include "cli/cli_options.h"

int RunIdentity(const CliOptions& options, const CliStreams& streams);
int RunProgram(const CliOptions& options, const CliStreams& streams);
int RunInspect(const CliOptions& options, const CliStreams& streams);
int RunBatch(const CliOptions& options, const CliStreams& streams);
int RunDb(const CliOptions& options, const CliStreams& streams);
int RunRead(const CliOptions& options, const CliStreams& streams);
int RunCompare(const CliOptions& options, const CliStreams& streams);
int RunJob(const CliOptions& options, const CliStreams& streams);

// The whole program: parse argv, send the core's diagnostics where the options
// say, run the command. argv[0] is the program's name. The link runs with the
// board's own waits; tests give shorter ones.
int RunCli(int argc, const char* const* argv, const CliStreams& streams, const LinkWaits& waits = kBoardWaits);
