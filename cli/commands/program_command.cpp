// tovrin-cli program: the window's Connect and PROGRAM through the same run,
// with the identity read (or the one given). The file is read once, before the
// board is reached: the bytes hashed into the record are the bytes loaded and
// sent. The run and its records are the core's (line/one_board_run.h).

#include <chrono>
#include <string>

#include "cli/commands.h"
#include "cli/commands/board_view.h"
#include "cli/commands/job_command.h"
#include "cli/exit_codes.h"
#include "cli/output/text_output.h"
#include "line/one_board_run.h"
#include "os/stop.h"

namespace {

OneBoardRun RunOf(const CliOptions& options, std::chrono::steady_clock::time_point started) {
  OneBoardRun run;
  run.board = BoardAddressOf(options, nullptr);
  run.file = options.file;
  run.input = options.input;
  run.choice = ProgramChoice{StampOf(options), options.expectHardware, options.skipIfSame};
  run.logFile = options.logFile;
  run.traceFile = options.traceFile;
  run.pcapFile = options.pcapFile;
  run.dbTarget = options.dbTarget;
  run.who = StationWho{"program", options.interfaces.empty() ? options.board : TheInterface(options),
                       options.operatorName};
  run.started = started;
  run.refusesFile = [&options](FirmwareFile& file, RunReport& report) {
    return JobRefusesFirmware(options, file, report);
  };
  return run;
}

// The board's line and what the run will do, before the erase.
CliBoardView::Ready StartShown(const CliOptions& options, std::FILE* diag) {
  return [&options, diag](const ReachedBoard& board, const RunRequest& request, std::size_t frames) {
    if (options.quiet) return;
    PrintBoard(diag, board);
    std::fprintf(diag, "Programming %s with revision %s, serial number %s: %zu frames\n",
                 Printable(options.file).c_str(), Printable(request.revision).c_str(),
                 Printable(request.serial).c_str(), frames);
    std::fflush(diag);
    if (options.skipIfSame) {
      std::fprintf(diag, "Reading the board back first: one that already holds the image is left alone\n");
    }
  };
}

void PrintText(std::FILE* out, const RunReport& report) {
  std::fprintf(out, "%s\n", RunMessage(report).c_str());
  if (report.plan.unsentBytes > 0) std::fprintf(out, "Warning: %s\n", UnsentWarning(report.plan).c_str());
  const LoadReport& load = report.file.load;
  if (load.line != 0) {
    std::fprintf(out, "Record: line %zu (%s): %s\n", load.line, load.reason.c_str(), Printable(load.record).c_str());
  } else if (!report.file.reason.empty() || !load.reason.empty()) {
    std::fprintf(out, "Reason: %s\n", Printable(report.file.reason.empty() ? load.reason : report.file.reason).c_str());
  }
  if (const auto cause = CauseOf(report)) std::fprintf(out, "Cause: %s\n", CauseText(*cause).c_str());
}

// The run's status, unless the run log or the database did not take its record.
int KeptStatus(const CliOptions& options, const OneBoardOutcome& outcome, std::FILE* err) {
  int status = RunExitStatus(outcome.report, InterruptStatus());
  if (!outcome.logLost.empty()) {
    // The board is as the output says; the station's record of it is not.
    std::fprintf(err, "tovrin-cli: the run log %s did not take this run's record: %s\n",
                 Printable(options.logFile).c_str(), outcome.logLost.c_str());
    status = exit_code::kLogUnwritable;
  }
  if (outcome.stored.Failed()) {
    std::fprintf(err, "tovrin-cli: the database did not take this run's record: %s\n", outcome.stored.message.c_str());
    status = StoreExitStatus(outcome.stored.failure);
  }
  return WatchStatus(outcome.wireLosses, status, err);
}

}  // namespace

int RunProgram(const CliOptions& options, const CliStreams& streams) {
  const auto started = std::chrono::steady_clock::now();
  std::FILE* diag = DiagnosticStream(options, streams);
  CliBoardView view(diag, options.quiet, StartShown(options, diag));
  // A station whose record cannot be kept does not program the board.
  const OneBoardOutcome outcome = ProgramAndRecord(RunOf(options, started), view);
  if (options.json) {
    std::fprintf(streams.out, "%s\n", JsonLine(outcome.record).c_str());
  } else {
    PrintText(streams.out, outcome.report);
  }
  std::fflush(streams.out);
  return KeptStatus(options, outcome, streams.err);
}
