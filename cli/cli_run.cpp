#include <exception>

#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/commands/command_files.h"
#include "cli/commands/board_commands.h"
#include "cli/commands/job_command.h"
#include "cli/exit_codes.h"
#include "os/stop.h"
#include "common/log_line.h"
#include "run/run_record.h"

namespace {

int RunCommand(const CliOptions& options, const CliStreams& streams) {
  // Before any file is opened: opening one can already create it.
  const std::string sameFile = SameFileRefusal(FileUsesOf(options));
  if (!sameFile.empty()) {
    std::fprintf(streams.err, "tovrin-cli: %s\n", sameFile.c_str());
    return exit_code::kUsage;
  }
  switch (options.command) {
    case CliCommand::kIdentity: return RunIdentity(options, streams);
    case CliCommand::kProgram: return RunProgram(options, streams);
    case CliCommand::kInspect: return RunInspect(options, streams);
    case CliCommand::kBatch: return RunBatch(options, streams);
    case CliCommand::kDb: return RunDb(options, streams);
    case CliCommand::kRead: return RunRead(options, streams);
    case CliCommand::kCompare: return RunCompare(options, streams);
    case CliCommand::kJob: return RunJob(options, streams);
  }
  return exit_code::kInternal;
}

// The last resort: no input may end the command through an uncaught exception
// (an abort, no record, no word on why). Reaching here is a fault of the tool.
int InternalError(const CliOptions& options, const CliStreams& streams, const char* what) {
  std::fprintf(streams.err, "tovrin-cli: internal error: %s\n", what);
  if (options.json) {
    const Json report{{"result", exit_code::kInternal}, {"message", std::string("internal error: ") + what}};
    std::fprintf(streams.out, "%s\n", JsonLine(report).c_str());
  }
  std::fflush(streams.out);
  return exit_code::kInternal;
}

}  // namespace

int RunCli(int argc, const char* const* argv, const CliStreams& streams, const LinkWaits& waits) {
  CliOptions options;
  options.waits = waits;
  const int parsed = ParseCliArgs(argc, argv, options, streams);
  if (parsed != kRunCommand) return parsed;
  if (!InterfacesUsable(options, streams)) return exit_code::kUsage;
  // Before the files are looked at: the job names the firmware.
  if (const int job = ApplyJob(options, streams); job != kRunCommand) return job;

  // A command that talks to a board ends a stopped run itself, so the board is
  // left unlocked and the record says so; inspect needs no such care.
  if (options.command != CliCommand::kInspect && options.command != CliCommand::kDb) InstallInterruptHandlers();
  SetLogStream(DiagnosticStream(options, streams));
  SetLogEscaping(true);
  int status = exit_code::kInternal;
  try {
    status = RunCommand(options, streams);
  } catch (const std::exception& e) {
    status = InternalError(options, streams, e.what());
  } catch (...) {
    status = InternalError(options, streams, "an unknown exception");
  }
  SetLogStream(nullptr);
  SetLogEscaping(false);
  return status;
}
