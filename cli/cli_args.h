#pragma once

// The tovrin-cli command line: its options, their checks and the help texts.

#include "cli/cli_options.h"

// Returned by ParseCliArgs when a command is to run.
constexpr int kRunCommand = -1;

// Fills options from argv. Returns kRunCommand, 0 after printing help to
// streams.out, or exit_code::kUsage after printing the reason to streams.err.
// Nothing here touches the network.
int ParseCliArgs(int argc, const char* const* argv, CliOptions& options, const CliStreams& streams);
