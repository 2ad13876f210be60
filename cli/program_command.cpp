// tovrin-cli program: Connect, then the window's PROGRAM with the identity read
// (or the one given), over the same core calls.

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "cli/board_session.h"
#include "cli/cli_platform.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/inspect.h"
#include "cli/json_report.h"
#include "cli/log_capture.h"
#include "cli/progress.h"
#include "cli/run_log.h"
#include "cli/text_output.h"
#include "flash/program_board.h"

namespace {

struct RunRecord {
  BoardSession session;
  bool started = false;  // ProgramBoard was called
  std::string revision;  // what it was called with
  std::string serial;
  int framesPlanned = 0;
  int framesAcknowledged = 0;
  int result = 0;
  std::string message;
};

std::string WrongHardwareMessage(const std::string& found, const std::string& expected) {
  return "Wrong board: hardware code " + Printable(found) + ", expected " + Printable(expected) +
         ". Nothing was erased.";
}

// Runs ProgramBoard on an open session with the identity chosen as the window
// pre-fills it: what the operator gave, else what the board holds.
void Program(const CliOptions& options, std::FILE* diag, RunRecord& run) {
  const IdentityTexts& board = run.session.texts;
  run.revision = options.revisionGiven ? options.revision : board.revision;
  run.serial = options.serialGiven ? options.serial : board.serialNumber;

  FramePlan plan;
  {
    // A trial load for the frame count; the run itself reports a bad file.
    LogCapture quiet(diag);
    PlanRunFromFile(options.file.c_str(), run.serial.c_str(), run.revision.c_str(), plan);
  }
  run.framesPlanned = plan.count;
  if (!options.quiet) {
    std::fprintf(diag, "Board %s over %s: revision %s, serial number %s, hardware %s\n", options.board.c_str(),
                 LinkTypeText(run.session.mode), Printable(board.revision).c_str(),
                 Printable(board.serialNumber).c_str(), Printable(board.hardware).c_str());
    std::fprintf(diag, "Programming %s with revision %s, serial number %s: %d frames\n", options.file.c_str(),
                 Printable(run.revision).c_str(), Printable(run.serial).c_str(), plan.count);
    std::fflush(diag);
  }

  CliProgress progress(diag, ChooseProgressStyle(diag, options.quiet), plan.count);
  run.started = true;
  run.result = ProgramBoard(run.session.link, options.file.c_str(), run.serial.c_str(), run.revision.c_str(),
                            run.session.mode, progress);
  progress.Finish();
  run.framesAcknowledged = progress.FramesAcknowledged();
  run.message = ProgramResultMessage(run.result);
}

Json ReportJson(const CliOptions& options, const RunRecord& run, const std::string& sha256, double seconds) {
  Json written = nullptr;
  if (run.started) written = Json{{"revision", run.revision}, {"serial", run.serial}};
  return Json{{"command", "program"},
              {"board", options.board},
              {"link", LinkJson(run.session)},
              {"identity_before", IdentityJson(run.session)},
              {"written", written},
              {"file", options.file},
              {"sha256", sha256.empty() ? Json(nullptr) : Json(sha256)},
              {"frames", Json{{"planned", run.framesPlanned}, {"acknowledged", run.framesAcknowledged}}},
              {"result", run.result},
              {"message", run.message},
              {"seconds", seconds}};
}

}  // namespace

int RunProgram(const CliOptions& options, const CliStreams& streams) {
  const auto started = std::chrono::steady_clock::now();
  std::FILE* diag = DiagnosticStream(options, streams);
  RunRecord run;

  // A station whose record cannot be kept does not program the board.
  int logFd = -1;
  if (!options.logFile.empty()) {
    logFd = OpenRunLog(options.logFile);
    if (logFd < 0) {
      run.result = exit_code::kLogUnwritable;
      run.message = "Cannot open the run log " + options.logFile + ": " + std::strerror(errno);
    }
  }
  const std::string sha256 = FileSha256(options.file);

  if (run.result == 0) {
    run.result = BeginBoardSession(options.board, run.session, run.message);
    if (run.result == 0 && !options.expectHardware.empty() && run.session.texts.hardware != options.expectHardware) {
      run.result = exit_code::kWrongHardware;
      run.message = WrongHardwareMessage(run.session.texts.hardware, options.expectHardware);
    }
    if (run.result == 0) Program(options, diag, run);
    // Every run, good or bad, ends the connection, as the window's does.
    EndBoardSession(run.session, diag);
  }

  const Json report = ReportJson(options, run, sha256, SecondsSince(started));
  if (options.json) {
    std::fprintf(streams.out, "%s\n", JsonLine(report).c_str());
  } else {
    std::fprintf(streams.out, "%s\n", run.message.c_str());
  }
  std::fflush(streams.out);

  if (logFd >= 0) {
    if (!AppendRunLog(logFd, report)) {
      std::fprintf(streams.err, "tovrin-cli: cannot append to the run log %s: %s\n", options.logFile.c_str(),
                   std::strerror(errno));
    }
    CloseAppendFile(logFd);
  }
  return run.result;
}
