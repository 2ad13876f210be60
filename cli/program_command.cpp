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
#include "cli/json_report.h"
#include "cli/progress.h"
#include "cli/run_log.h"
#include "cli/sha256.h"
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
  int result = 0;
  std::string message;
};

std::string WrongHardwareMessage(const std::string& found, const std::string& expected) {
  return "Wrong board: hardware code " + Printable(found) + ", expected " + Printable(expected) +
         ". Nothing was erased.";
}

// Stamps the identity chosen as the window pre-fills it (what the operator
// gave, else what the board holds) and sends the image.
void Program(const CliOptions& options, std::FILE* diag, FlashImage& image, RunRecord& record) {
  const IdentityTexts& board = record.session.texts;
  record.revision = options.revisionGiven ? options.revision : board.revision;
  record.serial = options.serialGiven ? options.serial : board.serialNumber;
  StampIdentity(image, record.serial.c_str(), record.revision.c_str());

  if (!options.quiet) {
    std::fprintf(diag, "Board %s over %s: revision %s, serial number %s, hardware %s\n", options.board.c_str(),
                 LinkTypeText(record.session.link.mode), Printable(board.revision).c_str(),
                 Printable(board.serialNumber).c_str(), Printable(board.hardware).c_str());
    std::fprintf(diag, "Programming %s with revision %s, serial number %s: %zu frames\n", options.file.c_str(),
                 Printable(record.revision).c_str(), Printable(record.serial).c_str(),
                 PlanFrames(image).starts.size());
    std::fflush(diag);
  }

  CliProgress progress(diag, ChooseProgressStyle(diag, options.quiet));
  record.started = true;
  record.run = ProgramImage(record.session.link, image, progress);
  record.result = record.run.result;
  record.message = ProgramResultMessage(record.result);
}

Json CauseOf(const RunRecord& r) {
  if (!r.started) return CauseJson(LinkCommand::kRead, r.session.identityOutcome);
  return CauseJson(r.run.command, r.run.outcome, r.run.frame, r.run.address);
}

Json LoadJson(const LoadReport& load) {
  if (load.line == 0 && load.reason.empty()) return nullptr;
  return Json{{"line", load.line}, {"record", load.record}, {"reason", load.reason}};
}

Json ReportJson(const CliOptions& options, const RunRecord& r, double seconds) {
  Json written = nullptr;
  if (r.started) written = Json{{"revision", r.revision}, {"serial", r.serial}};
  return Json{{"command", "program"},
              {"board", options.board},
              {"link", LinkJson(r.session)},
              {"identity_before", IdentityJson(r.session)},
              {"written", written},
              {"file", options.file},
              {"sha256", r.sha256.empty() ? Json(nullptr) : Json(r.sha256)},
              {"load", LoadJson(r.load)},
              {"frames", Json{{"planned", r.run.framesPlanned}, {"acknowledged", r.run.framesAcknowledged}}},
              {"result", r.result},
              {"message", r.message},
              {"cause", CauseOf(r)},
              {"seconds", seconds}};
}

// Reads and loads the file: 0, or the result that ends the command before any
// board is touched.
int LoadFile(const CliOptions& options, FlashImage& image, RunRecord& r) {
  std::string bytes;
  const FileRead read = ReadInputFile(options.file, bytes);
  if (read.result != kProgramDone) {
    r.load.reason = read.reason;
    r.message = ProgramResultMessage(read.result);
    return read.result;
  }
  r.sha256 = Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  r.load = LoadSRecordText(bytes.data(), bytes.size(), image);
  if (r.load.result != kLoadOk) r.message = ProgramResultMessage(r.load.result);
  return r.load.result;
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
      r.message = "Cannot open the run log " + options.logFile + ": " + std::strerror(errno);
    }
  }

  auto image = std::make_unique<FlashImage>();
  if (r.result == 0) r.result = LoadFile(options, *image, r);
  if (r.result == 0) {
    r.result = BeginBoardSession(options.board, r.session, r.message);
    if (r.result == 0 && !options.expectHardware.empty() && r.session.texts.hardware != options.expectHardware) {
      r.result = exit_code::kWrongHardware;
      r.message = WrongHardwareMessage(r.session.texts.hardware, options.expectHardware);
    }
    if (r.result == 0) Program(options, diag, *image, r);
    // Every run, good or bad, ends the connection, as the window's does.
    EndBoardSession(r.session, diag);
  }

  const Json report = ReportJson(options, r, SecondsSince(started));
  if (options.json) {
    std::fprintf(streams.out, "%s\n", JsonLine(report).c_str());
  } else {
    std::fprintf(streams.out, "%s\n", r.message.c_str());
    if (r.load.line != 0) {
      std::fprintf(streams.out, "Record: line %zu (%s): %s\n", r.load.line, r.load.reason.c_str(),
                   Printable(r.load.record).c_str());
    } else if (!r.load.reason.empty()) {
      std::fprintf(streams.out, "Reason: %s\n", r.load.reason.c_str());
    }
    const Json cause = CauseOf(r);
    if (!cause.is_null()) {
      const std::string text = r.started ? CauseText(r.run.command, r.run.outcome, r.run.frame, r.run.address)
                                         : CauseText(LinkCommand::kRead, r.session.identityOutcome);
      std::fprintf(streams.out, "Cause: %s\n", text.c_str());
    }
  }
  std::fflush(streams.out);

  if (logFd >= 0) {
    if (!AppendRunLog(logFd, report)) {
      std::fprintf(streams.err, "tovrin-cli: cannot append to the run log %s: %s\n", options.logFile.c_str(),
                   std::strerror(errno));
    }
    CloseAppendFile(logFd);
  }
  return r.result;
}
