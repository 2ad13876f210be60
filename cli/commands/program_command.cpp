// tovrin-cli program: the window's Connect and PROGRAM through the same run,
// with the identity read (or the one given). The file is read once, before the
// board is reached: the bytes hashed into the record are the bytes loaded and
// sent.

#include <chrono>
#include <string>

#include "cli/commands.h"
#include "cli/commands/board_commands.h"
#include "cli/commands/job_command.h"
#include "line/wire_record.h"
#include "cli/exit_codes.h"
#include "cli/output/progress.h"
#include "line/run_log.h"
#include "cli/output/text_output.h"
#include "line/station_record.h"
#include "os/files.h"
#include "os/stop.h"
#include "run/program_run.h"
#include "run/read_back.h"

namespace {

void PrintStart(std::FILE* diag, const CliOptions& options, const Session& session, const RunRequest& request,
                std::size_t frames) {
  PrintBoard(diag, options.board, session);
  std::fprintf(diag, "Programming %s with revision %s, serial number %s: %zu frames\n", Printable(options.file).c_str(),
               Printable(request.revision).c_str(), Printable(request.serial).c_str(), frames);
  std::fflush(diag);
}

// Connects, checks the board and programs it: the run's report.
RunReport ProgramTheBoard(const CliOptions& options, const FirmwareFile& file, LinkObserver* watch, std::FILE* diag) {
  Session session(SessionConfigOf(options, watch));
  session.Open(options.board);
  RunReport report = SessionReport(session);
  report.file = FactsOf(file);
  if (report.stage == RunStage::kConnected && CheckHardware(report, options.expectHardware)) {
    const RunRequest request = RequestFor(options, session);
    if (!options.quiet) PrintStart(diag, options, session, request, PlannedFrames(file, request));
    if (!options.quiet && options.skipIfSame) {
      std::fprintf(diag, "Reading the board back first: one that already holds the image is left alone\n");
    }
    // A stop asked for while connecting ends the run before the erase.
    CliProgress progress(diag, ChooseProgressStyle(diag, options.quiet));
    report = options.skipIfSame ? ProgramUnlessSame(session, file, request, progress, progress)
                                : ProgramSession(session, file, request, progress);
  }
  report.stoppedBy = StopName();
  // Every run, good or bad, ends the connection, as the window's does.
  CloseSession(session, diag);
  return report;
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

}  // namespace

int RunProgram(const CliOptions& options, const CliStreams& streams) {
  const auto started = std::chrono::steady_clock::now();
  std::FILE* diag = DiagnosticStream(options, streams);

  // A station whose record cannot be kept does not program the board.
  RunReport report;
  report.board = options.board;
  report.file.name = options.file;
  std::string refused;
  std::string reason;
  int logFd = -1;
  WireRecord watch;  // --trace and --pcap
  if (!options.logFile.empty() && (logFd = OpenRunLog(options.logFile, reason)) < 0) {
    refused = "Cannot open the run log " + Printable(options.logFile) + ": " + reason;
  } else if (!watch.Open(options.traceFile, options.pcapFile, refused)) {
    // the trace's own words
  }
  // Nor one whose station database cannot be reached.
  std::unique_ptr<SerialStore> store;
  Refusal refusal = Refusal::kRecordUnwritable;
  if (refused.empty() && !options.dbTarget.empty()) {
    StoreError e;
    store = OpenDatabaseStore(options.dbTarget, e);
    if (!store) {
      refused = e.message;
      refusal = e.failure == StoreFailure::kUnsupported ? Refusal::kStoreUnsupported : Refusal::kStoreUnusable;
    }
  }
  if (!refused.empty()) {
    report.stage = RunStage::kRefused;
    report.refusal = refusal;
    report.refusalMessage = refused;
  } else {
    FirmwareFile file = ReadFirmware(options.file, options.input);
    if (!JobRefusesFirmware(options, file, report)) {
      report = file.Usable() ? ProgramTheBoard(options, file, watch.Observer(), diag) : RefusedFileReport(file);
    }
    report.board = options.board;
  }

  const Json record = RunRecord(report, {"program", TheInterface(options), 0, SecondsSince(started)});
  if (options.json) {
    std::fprintf(streams.out, "%s\n", JsonLine(record).c_str());
  } else {
    PrintText(streams.out, report);
  }
  std::fflush(streams.out);

  int status = RunExitStatus(report, InterruptStatus());
  if (logFd >= 0) {
    // The board is as the output says; the station's record of it is not.
    const LogWrite logged = AppendRunLog(logFd, record);
    if (!logged.written) {
      std::fprintf(streams.err, "tovrin-cli: the run log %s did not take this run's record: %s\n",
                   Printable(options.logFile).c_str(), logged.reason.c_str());
      status = exit_code::kLogUnwritable;
    }
    CloseAppendFile(logFd);
  }
  if (store) {
    const StationWho who{"program", options.interfaces.empty() ? options.board : TheInterface(options),
                         options.operatorName};
    if (const StoreError e = store->RecordRun(StoredRunOf(who, report, JsonLine(record))); e.Failed()) {
      std::fprintf(streams.err, "tovrin-cli: the database did not take this run's record: %s\n", e.message.c_str());
      status = StoreExitStatus(e.failure);
    }
  }
  return WatchStatus(watch, status, streams.err);
}
