// tovrin-cli batch: a production line's station. One board after another gets
// the next serial number from STATE, which is advanced and made durable before
// the board is erased, so that no crash can hand a number out twice; every
// board met leaves one line in LOG.


#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
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
#include "cli/serial_state.h"
#include "cli/text_output.h"
#include "cli/wire_record.h"
#include "flash/program_board.h"

namespace {

namespace batch_const {
// While the batch looks for a board to come or to go, a probe attempt waits this
// long (the frames are the usual probe's): a loader answers within milliseconds,
// and the board's own 2 s per attempt would make a station notice a new board,
// or a reset one, six seconds late.
constexpr int kProbeMs = 250;
// Between two looks at a board that still answers after its run.
constexpr int kPauseBetweenLooksMs = 200;
constexpr int kMsPerSecond = 1000;
}  // namespace batch_const

// The batch's link waits: shorter probes, and no blind pause after the lock,
// since the batch watches the board fall silent instead.
LinkWaits BatchWaits(const LinkWaits& base) {
  LinkWaits w = base;
  w.probeMs = std::min(base.probeMs, batch_const::kProbeMs);
  w.pauseAfterLockMs = 0;
  return w;
}

// A run that stops at the next exchange when Ctrl+C (or SIGTERM) came.
class BatchProgress : public CliProgress {
 public:
  using CliProgress::CliProgress;
  bool StopRequested() override { return InterruptStatus() != 0; }
};

// Why the file ends the batch before any board, in one line.
std::string LoadMessage(const LoadedFile& file) {
  std::string message = ProgramResultMessage(file.result);
  if (!file.reason.empty()) message += ": " + file.reason;
  if (file.load.line != 0) message += " (line " + std::to_string(file.load.line) + ": " + file.load.reason + ")";
  return message;
}

// One board the batch met.
struct BoardRun {
  explicit BoardRun(const LinkWaits& waits) : session(waits) {}
  BoardSession session;
  bool started = false;  // a serial number was taken and the erase was next
  std::string revision;
  std::string serial;
  ProgramRun run;
  int result = 0;
  std::string message;
};

Json BoardJson(const CliOptions& options, const LoadedFile& image, const BoardRun& b, double seconds) {
  Json written = nullptr;
  if (b.started) written = Json{{"revision", b.revision}, {"serial", b.serial}};
  return Json{{"command", "batch"},
              {"board", options.board},
              {"link", LinkJson(b.session)},
              {"identity_before", IdentityJson(b.session)},
              {"written", written},
              {"file", options.file},
              {"sha256", image.sha256},
              {"frames", Json{{"planned", b.run.framesPlanned}, {"acknowledged", b.run.framesAcknowledged}}},
              {"verify", options.verify},
              // As program's record says it: a stopped run is not a result of the board's.
              {"result", b.result == kProgramInterrupted ? Json("interrupted") : Json(b.result)},
              {"message", b.message},
              {"cause", CauseJson(RunCause(b.session, b.started, b.run))},
              {"seconds", seconds}};
}

enum class Wait { kDone, kTimedOut, kInterrupted };

// Until a loader answers and the session is open (its identity read or not).
Wait WaitForBoard(const CliOptions& options, BoardRun& b, LinkObserver* trace) {
  const std::int64_t deadline = MonotonicMs() + std::int64_t{options.waitSeconds} * batch_const::kMsPerSecond;
  b.session.link.observer = trace;
  for (;;) {
    if (InterruptStatus() != 0) return Wait::kInterrupted;
    b.result = BeginBoardSession(options.board, b.session, b.message);
    if (b.session.connected) return Wait::kDone;
    if (MonotonicMs() >= deadline) return Wait::kTimedOut;
  }
}

// Until the board no longer answers: reset into its application, or unplugged.
Wait WaitUntilGone(const CliOptions& options, const LinkWaits& waits, LinkObserver* trace) {
  const std::int64_t deadline = MonotonicMs() + std::int64_t{options.waitSeconds} * batch_const::kMsPerSecond;
  for (;;) {
    if (InterruptStatus() != 0) return Wait::kInterrupted;
    BoardLink probe(waits);
    probe.observer = trace;
    const int opened = OpenLink(probe, options.board.c_str());
    if (opened != kLinkTcp && opened != kLinkUdp) return Wait::kDone;
    CloseLink(probe);
    if (MonotonicMs() >= deadline) return Wait::kTimedOut;
    SleepMs(batch_const::kPauseBetweenLooksMs);
  }
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
};

}  // namespace

int RunBatch(const CliOptions& options, const CliStreams& streams) {
  if (options.serialFrom.empty() || options.serialFrom.back() < '0' || options.serialFrom.back() > '9') {
    std::fprintf(streams.err, "tovrin-cli: --serial-from %s does not end in digits that can count up\n",
                 Printable(options.serialFrom).c_str());
    return exit_code::kUsage;
  }
  const auto batchStarted = std::chrono::steady_clock::now();
  std::FILE* diag = DiagnosticStream(options, streams);
  const LinkWaits waits = BatchWaits(options.waits);
  InstallInterruptHandlers();
  Summary sum;

  // Everything that can end the batch before a board: the log, the trace, the
  // state, the file.
  const int logFd = OpenRunLog(options.logFile);
  WireRecord wire;  // --trace and --pcap
  std::string traceError;
  SerialState state;
  std::string stateError;
  LoadedFile image;
  if (logFd < 0) {
    sum.status = exit_code::kLogUnwritable;
    sum.ending = "Cannot open the run log " + options.logFile + ": " + std::strerror(errno);
  } else if (wire.Open(options.traceFile, options.pcapFile, traceError) != 0) {
    sum.status = exit_code::kLogUnwritable;
    sum.ending = traceError;
  } else if (!LoadSerialState(options.stateFile, options.serialFrom, state, stateError)) {
    sum.status = exit_code::kStateUnusable;
    sum.ending = stateError;
  } else if (options.count > 0 && SerialsLeft(state) < static_cast<std::uint64_t>(options.count)) {
    sum.status = exit_code::kSerialsExhausted;
    sum.ending = "Only " + std::to_string(SerialsLeft(state)) + " serial numbers are left from " + state.next +
                 ", not " + std::to_string(options.count);
  } else {
    image = LoadInputFile(options.file);
    sum.status = image.result;
    if (sum.status != 0) sum.ending = LoadMessage(image);
  }
  LinkObserver* traceObserver = wire.Observer();

  for (int met = 0; sum.status == 0 && (options.count == 0 || met < options.count); ++met) {
    BoardRun b(waits);
    if (!options.quiet) {
      std::fprintf(diag, "Waiting for a board at %s (next serial number %s)...\n", options.board.c_str(),
                   state.exhausted ? "none" : state.next.c_str());
      std::fflush(diag);
    }
    const Wait came = WaitForBoard(options, b, traceObserver);
    if (came == Wait::kInterrupted) break;
    if (came == Wait::kTimedOut) {
      sum.ending = "No board answered within " + std::to_string(options.waitSeconds) + " s";
      sum.status = exit_code::kConnectFailed;
      break;
    }
    const auto boardStarted = std::chrono::steady_clock::now();
    const IdentityTexts& found = b.session.texts;
    bool endBatch = false;
    if (b.result == 0) b.result = CheckHardware(b.session, options.expectHardware, b.message);
    if (b.result == 0 && !options.allowRepeat && HandedOut(state, found.serialNumber)) {
      b.result = exit_code::kRepeatRefused;
      b.message = "Board already programmed: serial number " + Printable(found.serialNumber) +
                  " was handed out from " + options.stateFile + ". Nothing was erased.";
    }
    if (b.result == 0) {
      std::string error;
      if (!TakeSerial(options.stateFile, state, b.serial, error)) {
        b.result = state.exhausted ? exit_code::kSerialsExhausted : exit_code::kStateUnusable;
        b.message = "No serial number: " + error + ". Nothing was erased.";
        endBatch = true;
      }
    }
    if (b.result == 0) {
      b.started = true;
      b.revision = options.revisionGiven ? options.revision : found.revision;
      auto stamped = std::make_unique<FlashImage>(*image.image);
      StampIdentity(*stamped, b.serial.c_str(), b.revision.c_str());
      if (!options.quiet) {
        std::fprintf(diag, "Board over %s: serial number %s, hardware %s; programming serial number %s\n",
                     LinkTypeText(b.session.link.mode), Printable(found.serialNumber).c_str(),
                     Printable(found.hardware).c_str(), b.serial.c_str());
        std::fflush(diag);
      }
      BatchProgress progress(diag, ChooseProgressStyle(diag, options.quiet));
      b.run = ProgramImage(b.session.link, *stamped, progress, ProgramOptions{options.verify});
      b.result = b.run.result;
      b.message = ProgramRunMessage(b.run);
      if (sum.firstSerial.empty()) sum.firstSerial = b.serial;
      sum.lastSerial = b.serial;
    }
    EndBoardSession(b.session, diag);
    const double seconds = SecondsSince(boardStarted);
    const LogWrite logged = AppendRunLog(logFd, BoardJson(options, image, b, seconds));
    if (!logged.written) {
      // A board without its record is not traceable: the batch ends here.
      std::fprintf(streams.err, "tovrin-cli: the run log %s did not take this board's record: %s\n",
                   Printable(options.logFile).c_str(), logged.reason.c_str());
      sum.status = exit_code::kLogUnwritable;
      sum.ending = "The run log did not take a board's record";
      if (b.result == 0) ++sum.programmed; else ++sum.failed;
      break;
    }
    if (!options.quiet || b.result != 0) {
      std::fprintf(diag, "%s%s%s\n", b.serial.empty() ? "" : b.serial.c_str(), b.serial.empty() ? "" : ": ",
                   b.message.c_str());
      std::fflush(diag);
    }
    if (b.result == 0) {
      ++sum.programmed;
      sum.programmedSeconds += seconds;
    } else {
      ++sum.failed;
      sum.lastFailure = b.result;
    }
    if (endBatch) {
      sum.status = b.result;
      sum.ending = b.message;
      break;
    }
    if (b.result == kProgramInterrupted || (options.count > 0 && met + 1 >= options.count)) break;
    if (!options.quiet) {
      std::fprintf(diag, "Waiting for the board to go...\n");
      std::fflush(diag);
    }
    const Wait gone = WaitUntilGone(options, waits, traceObserver);
    if (gone == Wait::kInterrupted) break;
    if (gone == Wait::kTimedOut) {
      sum.ending = "The board still answers after " + std::to_string(options.waitSeconds) + " s";
      sum.status = exit_code::kConnectFailed;
      break;
    }
  }
  if (logFd >= 0) CloseAppendFile(logFd);
  if (InterruptStatus() != 0) {
    sum.status = InterruptStatus();
    sum.ending = "Stopped on request";
  }
  if (sum.ending.empty()) sum.ending = "Batch done";
  if (sum.status == 0) sum.status = sum.lastFailure;

  const double perBoard = sum.programmed > 0 ? sum.programmedSeconds / sum.programmed : 0;
  auto serialOrNull = [](const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); };
  if (options.json) {
    const Json report{{"command", "batch"},
                      {"file", options.file},
                      {"programmed", sum.programmed},
                      {"failed", sum.failed},
                      {"first_serial", serialOrNull(sum.firstSerial)},
                      {"last_serial", serialOrNull(sum.lastSerial)},
                      {"seconds_per_board", perBoard},
                      {"seconds", SecondsSince(batchStarted)},
                      {"next_serial", state.exhausted ? Json(nullptr) : serialOrNull(state.next)},
                      {"result", sum.status},
                      {"message", sum.ending}};
    std::fprintf(streams.out, "%s\n", JsonLine(report).c_str());
  } else {
    std::fprintf(streams.out, "%s\n", sum.ending.c_str());
    std::fprintf(streams.out, "Programmed: %d, failed: %d", sum.programmed, sum.failed);
    if (!sum.firstSerial.empty()) {
      std::fprintf(streams.out, ", serial numbers %s to %s", sum.firstSerial.c_str(), sum.lastSerial.c_str());
    }
    if (sum.programmed > 0) std::fprintf(streams.out, ", %.2f s per board", perBoard);
    std::fprintf(streams.out, "\n");
  }
  std::fflush(streams.out);
  return wire.Finish(sum.status, streams.err);
}
