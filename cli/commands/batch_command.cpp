// tovrin-cli batch: a production line's station. One board after another gets
// the next serial number from STATE, which is advanced and made durable before
// the board is erased, so that no crash can hand a number out twice; every
// board met leaves one line in LOG.

#include <chrono>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/commands/board_commands.h"
#include "cli/output/wire_record.h"
#include "cli/commands/station_run.h"
#include "cli/exit_codes.h"
#include "cli/output/progress.h"
#include "cli/output/record_file.h"
#include "cli/output/run_log.h"
#include "cli/output/text_output.h"
#include "cli/platform/cli_platform.h"
#include "cli/platform/interrupt.h"
#include "link/socket_platform.h"
#include "run/line.h"
#include "run/program_run.h"
#include "station/serial_store.h"

static_assert(store_status::kUnusable == exit_code::kStateUnusable &&
                  store_status::kUsedUp == exit_code::kSerialsExhausted && store_status::kUsage == exit_code::kUsage,
              "a store's failure ends the batch with tovrin-cli's own status");

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
  bool wireLost = false;
};

// A board turned away before its erase, with the status and words of why.
bool Refuse(RunReport& report, int status, std::string message) {
  report.stage = RunStage::kRefused;
  report.refusal = status;
  report.refusalMessage = std::move(message);
  return false;
}

// The checks a board passes before its erase: its model, its serial number not
// handed out before, and a serial number for it. A refusal goes into the
// report; `endBatch` when no further board can be served either.
bool Admit(const CliOptions& options, SerialStore& store, const std::string& storeName, RunReport& report,
           Allocation& allocation, bool& endBatch) {
  if (!CheckHardware(report, options.expectHardware)) return false;
  const std::string found = DescribeIdentity(report.identityBefore).serialNumber;
  bool repeat = false;
  if (!options.allowRepeat) {
    const StoreError e = store.HandedOut(found, repeat);
    if (e.Failed()) {
      endBatch = true;
      return Refuse(report, e.status, "No serial number: " + e.message + ". Nothing was erased.");
    }
  }
  if (repeat) {
    return Refuse(report, exit_code::kRepeatRefused,
                  "Board already programmed: serial number " + Printable(found) + " was handed out from " +
                      Printable(storeName) + ". Nothing was erased.");
  }
  const StoreError e = store.Allocate(ClaimFor(options, report), allocation);
  if (e.Failed()) {
    endBatch = true;
    return Refuse(report, e.status, "No serial number: " + e.message + ". Nothing was erased.");
  }
  return true;
}

void PrintSummary(const CliOptions& options, const CliStreams& streams, const Summary& sum,
                  const NextSerialInfo& next, double seconds) {
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
    putSerial("next_serial", next.next);
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

// A trace or capture that did not take every event ends the batch, as a run
// log's lost record does: the boards after it would go unrecorded. Standard
// error says which file when the batch ends.
bool WireLost(const WireRecord& watch, Summary& sum) {
  if (!watch.Lost() || sum.wireLost) return false;
  sum.wireLost = true;
  sum.status = exit_code::kLogUnwritable;
  if (sum.ending.empty()) sum.ending = "The trace or the capture did not take every event";
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
  WireRecord watch;  // --trace and --pcap
  std::string watchError;
  // The serial numbers come from STATE, or from the station database, which
  // also records every number's claim and every run.
  StoreError storeError;
  std::unique_ptr<SerialStore> store =
      options.dbTarget.empty() ? OpenStateStore(options.stateFile) : OpenDatabaseStore(options.dbTarget, storeError);
  const std::string storeName = options.dbTarget.empty() ? options.stateFile : RedactTarget(options.dbTarget);
  NextSerialInfo next;
  if (store) storeError = store->UseRange(options.serialFrom);
  if (store && !storeError.Failed()) storeError = store->Next(next);
  FirmwareFile image;
  if (logFd < 0) {
    sum.status = exit_code::kLogUnwritable;
    sum.ending = "Cannot open the run log " + Printable(options.logFile) + ": " + logError;
  } else if (watch.Open(options.traceFile, options.pcapFile, watchError) != 0) {
    sum.status = exit_code::kLogUnwritable;
    sum.ending = watchError;
  } else if (const std::string kind = options.stateFile.empty() ? "" : NotARecordFile(options.stateFile);
             !kind.empty()) {
    // Looked at before it is read: a FIFO would hold the read for good.
    sum.status = exit_code::kStateUnusable;
    sum.ending = "Cannot use the state file " + Printable(options.stateFile) + ": " + kind;
  } else if (storeError.Failed()) {
    sum.status = storeError.status;
    sum.ending = Printable(storeError.message);
  } else if (options.count > 0 && next.left < static_cast<std::uint64_t>(options.count)) {
    sum.status = exit_code::kSerialsExhausted;
    sum.ending = next.left == 0 ? "The serial numbers from " + Printable(options.serialFrom) + " are used up"
                                : "Only " + std::to_string(next.left) + " serial numbers are left from " +
                                      Printable(next.next) + ", not " + std::to_string(options.count);
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
        store->Next(next);  // another station sharing the store may have moved it on
        std::fprintf(diag, "Waiting for a board at %s (next serial number %s)...\n", options.board.c_str(),
                     next.next.empty() ? "none" : Printable(next.next).c_str());
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
    Allocation allocation;
    const std::string& serial = allocation.serial;
    RunRequest request;
    if (report.stage == RunStage::kConnected && Admit(options, *store, storeName, report, allocation, endBatch)) {
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
    const Json record = RunRecord(report, {"batch", "", 0, seconds});
    if (!options.dbTarget.empty()) {
      const StoredRun stored = StoredRunOf(options, report, JsonLine(record));
      const StoreError e =
          report.Programmed() ? store->Finish(allocation, RunEndOf(report, stored)) : store->RecordRun(stored);
      if (e.Failed()) {
        // The number stays pending in the database: tovrin-cli db pending shows it.
        std::fprintf(streams.err, "tovrin-cli: the database did not take this board's record: %s\n",
                     e.message.c_str());
        // A board that already ended the batch says why itself.
        if (!endBatch) {
          sum.status = e.status;
          sum.ending = "The database did not take a board's record: " + e.message;
        }
        endBatch = true;
      }
    }
    const LogWrite logged = AppendRunLog(logFd, record);
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
    if (WireLost(watch, sum)) break;
    if (endBatch) {
      if (sum.status == 0) {
        sum.status = result;
        sum.ending = RunMessage(report);
      }
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
  WireLost(watch, sum);  // in the wait after the last board
  if (InterruptStatus() != 0) {
    sum.status = InterruptStatus();
    sum.ending = "Stopped on request";
  }
  if (sum.ending.empty()) sum.ending = "Batch done";
  if (!store || store->Next(next).Failed()) next.next.clear();
  if (sum.status == 0) sum.status = sum.lastFailure;
  PrintSummary(options, streams, sum, next, SecondsSince(batchStarted));
  return watch.Finish(sum.status, streams.err);
}
