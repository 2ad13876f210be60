#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "common/log_line.h"

int RunCli(int argc, const char* const* argv, const CliStreams& streams, const LinkWaits& waits) {
  CliOptions options;
  options.waits = waits;
  const int parsed = ParseCliArgs(argc, argv, options, streams);
  if (parsed != kRunCommand) return parsed;

  // A command that talks to a board ends a stopped run itself, so the board is
  // left unlocked and the record says so; inspect needs no such care.
  if (options.command != CliCommand::kInspect && options.command != CliCommand::kDb) InstallInterruptHandlers();
  SetLogStream(DiagnosticStream(options, streams));
  SetLogEscaping(true);
  int status = 0;
  switch (options.command) {
    case CliCommand::kIdentity: status = RunIdentity(options, streams); break;
    case CliCommand::kProgram: status = RunProgram(options, streams); break;
    case CliCommand::kInspect: status = RunInspect(options, streams); break;
    case CliCommand::kBatch: status = RunBatch(options, streams); break;
    case CliCommand::kDb: status = RunDb(options, streams); break;
  }
  SetLogStream(nullptr);
  SetLogEscaping(false);
  return status;
}
