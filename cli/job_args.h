#pragma once

// The command line of approved jobs: --job and --trusted-key on program and
// batch, and tovrin-cli job create|show|sign.

#include <CLI/CLI.hpp>

#include "cli/cli_options.h"

// --job JOB and --trusted-key PUB.pem.
void AddJobOptions(CLI::App& command, CliOptions& options);

// tovrin-cli job and its three actions.
CLI::App* AddJobCommand(CLI::App& app, CliOptions& options);

// After program or batch parsed: notes the options given (a job refuses those
// it fixes, once read), and without --job wants FILE (and batch --serial-from).
// kRunCommand, or exit_code::kUsage once said on streams.err.
int CheckJobUsage(const CLI::App& command, CliOptions& options, const CliStreams& streams);
