// tovrin-cli batch: a production line's station. One board after another gets
// the next serial number from STATE, which is advanced and made durable before
// the board is erased, so that no crash can hand a number out twice; every
// board met leaves one line in LOG.

#include <chrono>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/commands/board_commands.h"
#include "cli/exit_codes.h"
#include "cli/output/progress.h"
#include "cli/output/record_file.h"
#include "cli/output/run_log.h"
#include "cli/output/text_output.h"
#include "cli/platform/cli_platform.h"
#include "cli/platform/interrupt.h"
#include "cli/serial_state.h"
#include "link/socket_platform.h"
#include "run/line.h"
#include "run/program_run.h"

namespace {

constexpr std::int64_t kMsPerSecond = 1000;

bool Stopped() { return InterruptStatus() != 0; }

// Why the file ends the batch before any board, in one line.
std::string LoadMessage(const FirmwareFile& file) {
  std::string message = ProgramResultMessage(file.result);
  if (!file.reason.empty()) message += ": " + file.reason;
  if (file.load.line != 0) {
    message += " (line " + std::to_string(file.load.line) + ": " + file.load.reason + ")";
  } else if (file.result != kProgramFileNotOpened && !file.load.reason.empty()) {
    message += " (" + file.load.reason + ")";  // a segment or the whole file, not one record
  }
  return message;
}

struct Summary {
  int programmed = 0;
  int failed = 0;  // refused boards included
  std::string firstSerial;
  std::string lastSerial;
  double programmedSeconds = 0;
  int lastFailure = 0;  // a failed board's status; the batch goes on
  int status = 0;       // what ended the batch before its time, if anything
  std::string ending;
  bool traceLost = false;
};

// The checks a board passes before its erase: its model, its serial number not
// handed out before, and a serial number for it. A refusal goes into the
// report; `endBatch` when no further board can be served either.
bool Refuse(RunReport& report, int status, std::string message) {
  report.stage = RunStage::kRefused;
  report.refusal = status;
  report.refusalMessage = std::move(message);
  return false;
}

bool Admit(const CliOptions& options, SerialState& state, RunReport& report, std::string& serial, bool& endBatch) {
  if (!CheckHardware(report, options.expectHardware)) return false;
  const std::string found = DescribeIdentity(report.identityBefore).serialNumber;
  if (!options.allowRepeat && HandedOut(state, found)) {
    return Refuse(report, exit_code::kRepeatRefused,
                  "Board already programmed: serial number " + Printable(found) + " was handed out from " +
                      Printable(options.stateFile) + ". Nothing was erased.");
  }
  std::string error;
  if (!TakeSerial(options.stateFile, state, serial, error)) {
    endBatch = true;
    return Refuse(report, state.exhausted ? exit_code::kSerialsExhausted : exit_code::kStateUnusable,
                  "No serial number: " + Printable(error) + ". Nothing was erased.");
  }
  return true;
}

void PrintSummary(const CliOptions& options, const CliStreams& streams, const Summary& sum, const SerialState& state,
                  double seconds) {
  const double perBoard = sum.programmed > 0 ? sum.programmedSeconds / sum.programmed : 0;
  if (options.json) {
    Json report{{"command", "batch"}};
    PutText(report, "file", options.file);
    report["programmed"] = sum.programmed;
    report["failed"] = sum.failed;
    // The serial numbers as every record gives them: exact, escaped where they are not UTF-8.
    auto putSerial = [&report](const char* key, const std::string& serial) {
      if (serial.empty()) {
        report[key] = nullptr;
      } else {
        PutText(report, key, serial);
      }
    };
    putSerial("first_serial", sum.firstSerial);
    putSerial("last_serial", sum.lastSerial);
    report["seconds_per_board"] = perBoard;
    report["seconds"] = seconds;
    putSerial("next_serial", state.exhausted ? std::string() : state.next);
    report["result"] = sum.status;
    report["message"] = sum.ending;
    std::fprintf(streams.out, "%s\n", JsonLine(report).c_str());
  } else {
    std::fprintf(streams.out, "%s\n", sum.ending.c_str());
    std::fprintf(streams.out, "Programmed: %d, failed: %d", sum.programmed, sum.failed);
    if (!sum.firstSerial.empty()) {
      std::fprintf(streams.out, ", serial numbers %s to %s", Printable(sum.firstSerial).c_str(),
                   Printable(sum.lastSerial).c_str());
    }
    if (sum.programmed > 0) std::fprintf(streams.out, ", %.2f s per board", perBoard);
    std::fprintf(streams.out, "\n");
  }
  std::fflush(streams.out);
}

// A trace that did not take every event ends the batch as a run log's lost
// record does: the station asked for what happened on the wire. Said once.
bool TraceLost(const LinkWatch& watch, const CliOptions& options, const CliStreams& streams, Summary& sum) {
  if (watch.Failure().empty() || sum.traceLost) return false;
  sum.traceLost = true;
  sum.status = TraceStatus(watch, options, streams.err, sum.status);
  if (sum.ending.empty()) sum.ending = "The trace did not take every event";
  return true;
}

}  // namespace

int RunBatch(const CliOptions& options, const CliStreams& streams) {
  if (options.serialFrom.empty() || options.serialFrom.back() < '0' || options.serialFrom.back() > '9') {
    std::fprintf(streams.err, "tovrin-cli: --serial-from %s does not end in digits that can count up\n",
                 Printable(options.serialFrom).c_str());
    return exit_code::kUsage;
  }
  const auto batchStarted = std::chrono::steady_clock::now();
  std::FILE* diag = DiagnosticStream(options, streams);
  const LinkWaits waits = LineWaits(options.waits);
  const std::int64_t waitMs = std::int64_t{options.waitSeconds} * kMsPerSecond;
  InstallInterruptHandlers();
  Summary sum;

  // Everything that can end the batch before a board: the log, the trace, the
  // state, the file.
  std::string logError;
  const int logFd = OpenRunLog(options.logFile, logError);
  LinkWatch watch;
  std::string watchError;
  SerialState state;
  std::string stateError;
  FirmwareFile image;
  if (logFd < 0) {
    sum.status = exit_code::kLogUnwritable;
    sum.ending = "Cannot open the run log " + Printable(options.logFile) + ": " + logError;
  } else if (!watch.Open(options, watchError)) {
    sum.status = exit_code::kLogUnwritable;
    sum.ending = watchError;
  } else if (const std::string kind = NotARecordFile(options.stateFile); !kind.empty()) {
    // Looked at before it is read: a FIFO would hold the read for good.
    sum.status = exit_code::kStateUnusable;
    sum.ending = "Cannot use the state file " + Printable(options.stateFile) + ": " + kind;
  } else if (!LoadSerialState(options.stateFile, options.serialFrom, state, stateError)) {
    sum.status = exit_code::kStateUnusable;
    sum.ending = Printable(stateError);
  } else if (options.count > 0 && SerialsLeft(state) < static_cast<std::uint64_t>(options.count)) {
    sum.status = exit_code::kSerialsExhausted;
    sum.ending = "Only " + std::to_string(SerialsLeft(state)) + " serial numbers are left from " +
                 Printable(state.next) + ", not " + std::to_string(options.count);
  } else {
    image = ReadFirmware(options.file, options.input);
    sum.status = image.result;
    if (sum.status != 0) sum.ending = LoadMessage(image);
  }

  // A board that answered while the last one was still being watched go.
  std::unique_ptr<Session> arrived;
  for (int met = 0; sum.status == 0 && (options.count == 0 || met < options.count); ++met) {
    std::unique_ptr<Session> session = std::move(arrived);
    if (!session) {
      session = std::make_unique<Session>(waits);
      session->Watch(watch.Observer());
      if (!options.quiet) {
        std::fprintf(diag, "Waiting for a board at %s (next serial number %s)...\n", options.board.c_str(),
                     state.exhausted ? "none" : Printable(state.next).c_str());
        std::fflush(diag);
      }
      const LineWait came = WaitForBoard(*session, options.board, MonotonicMs() + waitMs, Stopped);
      if (came == LineWait::kStopped) break;
      if (came == LineWait::kTimedOut) {
        sum.ending = "No board answered within " + std::to_string(options.waitSeconds) + " s";
        sum.status = exit_code::kConnectFailed;
        break;
      }
    }
    const auto boardStarted = std::chrono::steady_clock::now();
    RunReport report = SessionReport(*session);
    report.file = FactsOf(image);
    bool endBatch = false;
    std::string serial;
    RunRequest request;
    if (report.stage == RunStage::kConnected && Admit(options, state, report, serial, endBatch)) {
      const IdentityTexts found = session->Texts();
      request.revision = options.revisionGiven ? options.revision : found.revision;
      request.serial = serial;
      request.verify = options.verify;
      if (!options.quiet) {
        std::fprintf(diag, "Board over %s: serial number %s, hardware %s; programming serial number %s\n",
                     LinkTypeText(session->Transport()), Printable(found.serialNumber).c_str(),
                     Printable(found.hardware).c_str(), Printable(serial).c_str());
        std::fflush(diag);
      }
      CliProgress progress(diag, ChooseProgressStyle(diag, options.quiet));
      report = ProgramSession(*session, image, request, progress);
      if (sum.firstSerial.empty()) sum.firstSerial = serial;
      sum.lastSerial = serial;
    }
    report.stoppedBy = StopName();
    CloseSession(*session, diag);
    const double seconds = SecondsSince(boardStarted);
    const int result = RunExitStatus(report, 0);
    const LogWrite logged = AppendRunLog(logFd, RunRecord(report, {"batch", "", 0, seconds}));
    if (!logged.written) {
      // A board without its record is not traceable: the batch ends here.
      std::fprintf(streams.err, "tovrin-cli: the run log %s did not take this board's record: %s\n",
                   Printable(options.logFile).c_str(), logged.reason.c_str());
      sum.status = exit_code::kLogUnwritable;
      sum.ending = "The run log did not take a board's record";
      if (report.Succeeded()) ++sum.programmed; else ++sum.failed;
      break;
    }
    if (!options.quiet || !report.Succeeded()) {
      std::fprintf(diag, "%s%s%s\n", Printable(serial).c_str(), serial.empty() ? "" : ": ", RunMessage(report).c_str());
      std::fflush(diag);
    }
    if (report.Succeeded()) {
      ++sum.programmed;
      sum.programmedSeconds += seconds;
    } else {
      ++sum.failed;
      sum.lastFailure = result;
    }
    if (TraceLost(watch, options, streams, sum)) break;
    if (endBatch) {
      sum.status = result;
      sum.ending = RunMessage(report);
      break;
    }
    if (report.Interrupted() || (options.count > 0 && met + 1 >= options.count)) break;
    if (!options.quiet) {
      std::fprintf(diag, "Waiting for the board to go...\n");
      std::fflush(diag);
    }
    // After a lock the board answers with what was written to it, so a board
    // with another identity is the next one, however short the gap.
    const IdentityBlock written = IdentityAfter(image, request);
    arrived = std::make_unique<Session>(waits);
    arrived->Watch(watch.Observer());
    const LineWait gone = WaitForNextBoard(*arrived, options.board, report.Succeeded() ? &written : nullptr,
                                           MonotonicMs() + waitMs, Stopped);
    if (gone == LineWait::kStopped) break;
    if (gone == LineWait::kTimedOut) {
      sum.ending = "The board still answers after " + std::to_string(options.waitSeconds) + " s";
      sum.status = exit_code::kConnectFailed;
      break;
    }
    if (!arrived->Connected()) arrived.reset();
  }
  if (logFd >= 0) CloseAppendFile(logFd);
  TraceLost(watch, options, streams, sum);  // in the wait after the last board
  if (InterruptStatus() != 0) {
    sum.status = InterruptStatus();
    sum.ending = "Stopped on request";
  }
  if (sum.ending.empty()) sum.ending = "Batch done";
  if (sum.status == 0) sum.status = sum.lastFailure;
  PrintSummary(options, streams, sum, state, SecondsSince(batchStarted));
  return sum.status;
}
