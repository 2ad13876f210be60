// tovrin-cli program: the window's Connect and PROGRAM over the same core calls,
// with the identity read (or the one given). The file is read once: the bytes
// hashed into the record are the bytes loaded and sent.

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "cli/board_session.h"
#include "cli/cli_platform.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/file_input.h"
#include "cli/interrupt.h"
#include "cli/json_report.h"
#include "cli/progress.h"
#include "cli/run_log.h"
#include "cli/text_output.h"
#include "flash/program_board.h"

namespace {

struct RunRecord {
  explicit RunRecord(const LinkWaits& waits) : session(waits) {}

  BoardSession session;
  std::string sha256;
  LoadReport load;
  bool started = false;  // the board was about to be erased
  std::string revision;  // what was stamped
  std::string serial;
  ProgramRun run;
  FramePlan plan;  // of the stamped image
  int result = 0;
  std::string message;
};

// Stamps the identity chosen as the window pre-fills it (what the operator
// gave, else what the board holds) and sends the image.
void Program(const CliOptions& options, std::FILE* diag, FlashImage& image, RunRecord& record) {
  const IdentityTexts& board = record.session.texts;
  record.revision = options.revisionGiven ? options.revision : board.revision;
  record.serial = options.serialGiven ? options.serial : board.serialNumber;
  StampIdentity(image, record.serial.c_str(), record.revision.c_str());
  record.plan = PlanFrames(image);

  if (!options.quiet) {
    std::fprintf(diag, "Board %s over %s: revision %s, serial number %s, hardware %s\n", options.board.c_str(),
                 LinkTypeText(record.session.link.mode), Printable(board.revision).c_str(),
                 Printable(board.serialNumber).c_str(), Printable(board.hardware).c_str());
    std::fprintf(diag, "Programming %s with revision %s, serial number %s: %zu frames\n",
                 Printable(options.file).c_str(), Printable(record.revision).c_str(), Printable(record.serial).c_str(),
                 record.plan.starts.size());
    std::fflush(diag);
  }

  CliProgress progress(diag, ChooseProgressStyle(diag, options.quiet));
  record.started = true;
  record.run = ProgramImage(record.session.link, image, progress, ProgramOptions{options.verify});
  record.result = record.run.result;
  record.message = ProgramRunMessage(record.run);
}

bool Interrupted(const RunRecord& r) { return r.result == kProgramInterrupted; }

Json LoadJson(const LoadReport& load) {
  if (load.line == 0 && load.reason.empty()) return nullptr;
  return Json{{"line", load.line}, {"record", load.record}, {"reason", load.reason}};
}

Json ReportJson(const CliOptions& options, const RunRecord& r, double seconds) {
  Json written = nullptr;
  if (r.started) written = Json{{"revision", r.revision}, {"serial", r.serial}};
  Json report{{"command", "program"},
              {"board", options.board},
              {"link", LinkJson(r.session)},
              {"identity_before", IdentityJson(r.session)},
              {"written", written},
              {"file", nullptr},
              {"sha256", r.sha256.empty() ? Json(nullptr) : Json(r.sha256)},
              {"load", LoadJson(r.load)},
              {"frames", Json{{"planned", r.run.framesPlanned},
                              {"acknowledged", r.run.framesAcknowledged},
                              {"unsent_bytes", r.plan.unsentBytes}}},
              {"result", Interrupted(r) ? Json("interrupted") : Json(r.result)},
              {"message", r.message},
              {"cause", CauseJson(RunCause(r.session, r.started, r.run))},
              {"seconds", seconds}};
  AddFileName(report, options.file);
  return report;
}

}  // namespace

int RunProgram(const CliOptions& options, const CliStreams& streams) {
  const auto started = std::chrono::steady_clock::now();
  std::FILE* diag = DiagnosticStream(options, streams);
  RunRecord r(options.waits);

  // A station whose record cannot be kept does not program the board.
  int logFd = -1;
  if (!options.logFile.empty()) {
    logFd = OpenRunLog(options.logFile);
    if (logFd < 0) {
      r.result = exit_code::kLogUnwritable;
      r.message = "Cannot open the run log " + Printable(options.logFile) + ": " + std::strerror(errno);
    }
  }

  LoadedFile file;
  if (r.result == 0) {
    file = LoadInputFile(options.file);
    r.result = file.result;
    r.sha256 = file.sha256;
    r.load = file.load;
    if (!file.reason.empty()) r.load.reason = file.reason;
    if (r.result != 0) r.message = ProgramResultMessage(r.result);
  }
  if (r.result == 0) r.result = StartTrace(options.traceFile, options.pcapFile, r.session, r.message);
  if (r.result == 0) {
    r.result = BeginBoardSession(options.board, r.session, r.message);
    // Connect and the identity read are bounded; a stop asked for during them
    // ends the run before the erase.
    if (r.result == 0 && InterruptStatus() != 0) {
      r.result = r.run.result = kProgramInterrupted;  // stopped before the erase
      r.message = ProgramResultMessage(kProgramInterrupted);
    }
    if (r.result == 0) r.result = CheckHardware(r.session, options.expectHardware, r.message);
    if (r.result == 0) Program(options, diag, *file.image, r);
    // Every run, good or bad, ends the connection, as the window's does.
    EndBoardSession(r.session, diag);
  }

  const Json report = ReportJson(options, r, SecondsSince(started));
  if (options.json) {
    std::fprintf(streams.out, "%s\n", JsonLine(report).c_str());
  } else {
    std::fprintf(streams.out, "%s\n", r.message.c_str());
    if (r.plan.unsentBytes > 0) std::fprintf(streams.out, "Warning: %s\n", UnsentWarning(r.plan).c_str());
    if (r.load.line != 0) {
      std::fprintf(streams.out, "Record: line %zu (%s): %s\n", r.load.line, r.load.reason.c_str(),
                   Printable(r.load.record).c_str());
    } else if (!r.load.reason.empty()) {
      std::fprintf(streams.out, "Reason: %s\n", Printable(r.load.reason).c_str());
    }
    if (const auto cause = RunCause(r.session, r.started, r.run)) {
      std::fprintf(streams.out, "Cause: %s\n", CauseText(*cause).c_str());
    }
  }
  std::fflush(streams.out);

  // A stopped run exits as a shell expects of a process ended by that signal.
  int status = Interrupted(r) && InterruptStatus() != 0 ? InterruptStatus() : r.result;
  if (logFd >= 0) {
    // The board is as the output says; the station's record of it is not.
    const LogWrite logged = AppendRunLog(logFd, report);
    if (!logged.written) {
      std::fprintf(streams.err, "tovrin-cli: the run log %s did not take this run's record: %s\n",
                   Printable(options.logFile).c_str(), logged.reason.c_str());
      status = exit_code::kLogUnwritable;
    }
    CloseAppendFile(logFd);
  }
  return r.session.wire.Finish(status, streams.err);
}
