#include <exception>

#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/commands/command_files.h"
#include "cli/commands/board_view.h"
#include "cli/commands/job_command.h"
#include "cli/exit_codes.h"
#include "os/stop.h"
#include "run/run_record.h"

namespace {

// A refused command line under --json still prints its one object, so that a
// script reading standard output always gets one.
int UsageError(bool json, const CliStreams& streams, const std::string& message) {
  if (json) {
    std::fprintf(streams.out, "%s\n", JsonLine(Json{{"result", exit_code::kUsage}, {"message", message}}).c_str());
    std::fflush(streams.out);
  }
  return exit_code::kUsage;
}

// --json as the parser would have taken it, for a command line it refused
// before setting any option: anywhere before a "--" that ends the options.
bool JsonAsked(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") return false;
    if (arg == "--json") return true;
  }
  return false;
}

int RunCommand(const CliOptions& options, const CliStreams& streams) {
  // Before any file is opened: opening one can already create it.
  const std::vector<FileUse> uses = FileUsesOf(options);
  std::string refusal = SameFileRefusal(uses);
  if (refusal.empty()) refusal = ReplacedFileRefusal(uses);
  if (refusal.empty()) refusal = InterfaceRefusal(options);
  if (!refusal.empty()) {
    std::fprintf(streams.err, "tovrin-cli: %s\n", refusal.c_str());
    return UsageError(options.json, streams, refusal);
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
  if (parsed == exit_code::kUsage) return UsageError(options.json || JsonAsked(argc, argv), streams, options.usageError);
  if (parsed != kRunCommand) return parsed;
  // Before the files are looked at: the job names the firmware.
  if (const int job = ApplyJob(options, streams); job != kRunCommand) {
    return job == exit_code::kUsage ? UsageError(options.json, streams, options.usageError) : job;
  }

  // A command that talks to a board ends a stopped run itself, so the board is
  // left unlocked and the record says so; inspect needs no such care.
  if (options.command != CliCommand::kInspect && options.command != CliCommand::kDb) InstallInterruptHandlers();
  int status = exit_code::kInternal;
  try {
    status = RunCommand(options, streams);
  } catch (const std::exception& e) {
    status = InternalError(options, streams, e.what());
  } catch (...) {
    status = InternalError(options, streams, "an unknown exception");
  }
  return status;
}
