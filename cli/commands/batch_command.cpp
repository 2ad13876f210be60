// tovrin-cli batch: a production line's station. One board after another gets
// the next serial number from STATE or the station database, taken and made
// durable before the board is erased, so that no crash can hand a number out
// twice; every board met leaves one line in LOG. With several --interface
// ports, one slot per port runs at once (a gang), all drawing from the one
// store.

#include <chrono>
#include <memory>
#include <string>

#include <atomic>
#include <exception>
#include <thread>
#include <vector>

#include "cli/batch/batch_line.h"
#include "cli/batch/batch_slot.h"
#include "cli/batch/batch_text.h"
#include "cli/batch/gang_display.h"
#include "cli/commands.h"
#include "cli/commands/board_commands.h"
#include "cli/commands/job_command.h"
#include "cli/exit_codes.h"
#include "cli/output/record_file.h"
#include "cli/output/run_log.h"
#include "cli/output/text_output.h"
#include "cli/output/wire_record.h"
#include "os/console.h"
#include "os/files.h"
#include "os/host.h"
#include "os/stop.h"
#include "common/log_line.h"
#include "station/serial_store.h"

static_assert(store_status::kUnusable == exit_code::kStateUnusable &&
                  store_status::kUsedUp == exit_code::kSerialsExhausted && store_status::kUsage == exit_code::kUsage,
              "a store's failure ends the batch with tovrin-cli's own status");

namespace {

constexpr double kSecondsPerHour = 3600;
constexpr int kRedrawMs = 100;  // the gang's table, at most this often

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

// What the whole batch comes to: its slots' figures added up, and what ended it.
struct Summary {
  int programmed = 0;
  int failed = 0;
  double programmedSeconds = 0;
  int status = 0;
  std::string ending;
};

double BoardsPerHour(int programmed, double seconds) { return seconds > 0 ? programmed * kSecondsPerHour / seconds : 0; }


void PrintSummary(const CliOptions& options, const CliStreams& streams, const Summary& sum, BatchLine& line,
                  const std::vector<SlotSummary>& slots, double seconds) {
  const double perBoard = sum.programmed > 0 ? sum.programmedSeconds / sum.programmed : 0;
  const bool gang = slots.size() > 1;
  const std::string next = line.NextSerial();
  if (options.json) {
    Json report{{"command", "batch"}};
    PutText(report, "file", options.file);
    report["programmed"] = sum.programmed;
    report["failed"] = sum.failed;
    // Serial numbers as text with their bytes kept, as a record gives them.
    auto putSerial = [](Json& json, const char* key, const std::string& serial) {
      if (serial.empty()) {
        json[key] = nullptr;
      } else {
        PutText(json, key, serial);
      }
    };
    putSerial(report, "first_serial", line.FirstSerial());
    putSerial(report, "last_serial", line.LastSerial());
    report["seconds_per_board"] = perBoard;
    report["boards_per_hour"] = BoardsPerHour(sum.programmed, seconds);
    report["seconds"] = seconds;
    report["next_serial"] = next.empty() || next == "none" ? Json(nullptr) : Json(next);
    if (gang) {
      Json perSlot = Json::array();
      for (std::size_t i = 0; i < slots.size(); ++i) {
        const SlotSummary& slot = slots[i];
        Json one{{"slot", i + 1},
                 {"interface", options.interfaces[i]},
                 {"programmed", slot.programmed},
                 {"failed", slot.failed}};
        putSerial(one, "first_serial", slot.firstSerial);
        putSerial(one, "last_serial", slot.lastSerial);
        one["boards_per_hour"] = BoardsPerHour(slot.programmed, seconds);
        one["result"] = slot.status;
        one["message"] = slot.ending;
        perSlot.push_back(std::move(one));
      }
      report["slots"] = perSlot;
    }
    report["result"] = sum.status;
    report["message"] = sum.ending;
    std::fprintf(streams.out, "%s\n", JsonLine(report).c_str());
  } else {
    std::fprintf(streams.out, "%s\n", sum.ending.c_str());
    for (std::size_t i = 0; gang && i < slots.size(); ++i) {
      const SlotSummary& slot = slots[i];
      std::fprintf(streams.out, "Slot %zu (%s): programmed %d, failed %d", i + 1,
                   Printable(options.interfaces[i]).c_str(), slot.programmed, slot.failed);
      if (!slot.firstSerial.empty()) {
        std::fprintf(streams.out, ", first serial number %s, last %s", Printable(slot.firstSerial).c_str(),
                     Printable(slot.lastSerial).c_str());
      }
      std::fprintf(streams.out, ", %.0f boards per hour%s%s\n", BoardsPerHour(slot.programmed, seconds),
                   slot.ending.empty() ? "" : "; ", slot.ending.c_str());
    }
    std::fprintf(streams.out, "Programmed: %d, failed: %d", sum.programmed, sum.failed);
    if (!line.FirstSerial().empty()) {
      std::fprintf(streams.out, ", serial numbers %s to %s", Printable(line.FirstSerial()).c_str(),
                   Printable(line.LastSerial()).c_str());
    }
    if (sum.programmed > 0) std::fprintf(streams.out, ", %.2f s per board", perBoard);
    if (gang) std::fprintf(streams.out, ", %.0f boards per hour", BoardsPerHour(sum.programmed, seconds));
    std::fprintf(streams.out, "\n");
  }
  std::fflush(streams.out);
}

// The slots of a gang, one thread each, while the main thread keeps the
// display drawn. Each slot has its own sessions, trace tag and log lines.
std::vector<SlotSummary> RunGang(const CliOptions& options, const CliStreams& streams, const FirmwareFile& image,
                                 BatchLine& line, WireRecord& watch) {
  std::FILE* diag = DiagnosticStream(options, streams);
  GangDisplay display(diag, streams.out, options.json, options.quiet, EnableCursorMovement(diag), options.interfaces);
  const int count = static_cast<int>(options.interfaces.size());
  std::vector<SlotSummary> slots(options.interfaces.size());
  std::atomic<int> running{count};
  std::vector<std::thread> threads;
  for (int slot = 1; slot <= count; ++slot) {
    const SlotSetup setup{slot, options.interfaces[static_cast<std::size_t>(slot - 1)],
                          watch.ObserverFor(slot, options.interfaces[static_cast<std::size_t>(slot - 1)]), &watch,
                          diag};
    threads.emplace_back([&, setup] {
      SlotSummary& summary = slots[static_cast<std::size_t>(setup.slot - 1)];
      display.TakeLogLines(setup.slot);
      // As on the main thread: no exception may end the process without a word
      // (a fault of the tool's own); it ends every slot, and the batch says why.
      try {
        summary = RunSlot(setup, options, image, line, display.Slot(setup.slot));
      } catch (const std::exception& e) {
        line.End(exit_code::kInternal, std::string("internal error: ") + e.what());
      } catch (...) {
        line.End(exit_code::kInternal, "internal error: an unknown exception");
      }
      SetThreadLogSink(nullptr, nullptr);
      --running;
    });
  }
  while (running > 0) {
    display.Redraw();
    SleepMs(kRedrawMs);
  }
  for (std::thread& t : threads) t.join();
  display.Redraw();
  return slots;
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
  InstallInterruptHandlers();
  Summary sum;

  // Everything that can end the batch before a board: the log, the trace and
  // capture, the store of serial numbers, the file.
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
  FirmwareFile image;
  if (logFd < 0) {
    sum.status = exit_code::kLogUnwritable;
    sum.ending = "Cannot open the run log " + Printable(options.logFile) + ": " + logError;
  } else if (watch.Open(options.traceFile, options.pcapFile, watchError, static_cast<int>(options.interfaces.size())) !=
             0) {
    sum.status = exit_code::kLogUnwritable;
    sum.ending = watchError;
  } else if (const std::string kind = options.stateFile.empty() ? "" : NotARecordFile(options.stateFile);
             !kind.empty()) {
    // Looked at before it is read: a FIFO would hold the read for good.
    sum.status = exit_code::kStateUnusable;
    sum.ending = "Cannot use the state file " + Printable(options.stateFile) + ": " + kind;
  } else if (!store || (storeError = store->UseRange(options.serialFrom)).Failed() ||
             (storeError = store->Next(next)).Failed()) {
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
    if (RunReport refused; sum.status == 0 && JobRefusesFirmware(options, image, refused)) {
      sum.status = refused.refusal;
      sum.ending = refused.refusalMessage;
    }
  }

  BatchLine line(options, store.get(), storeName, logFd);
  std::vector<SlotSummary> slots;
  if (sum.status == 0 && options.interfaces.size() > 1) {
    slots = RunGang(options, streams, image, line, watch);
  } else if (sum.status == 0) {
    const SlotSetup setup{0, TheInterface(options), watch.ObserverFor(0, TheInterface(options)), &watch, diag};
    BatchText text(diag, options.board, options.quiet);
    slots.push_back(RunSlot(setup, options, image, line, text));
  }
  for (const SlotSummary& slot : slots) {
    sum.programmed += slot.programmed;
    sum.failed += slot.failed;
    sum.programmedSeconds += slot.programmedSeconds;
  }
  // What ended the batch: the line as a whole, else the first slot ended
  // before its time, else its last failed board.
  if (sum.status == 0 && line.Ended()) {
    sum.status = line.EndStatus();
    sum.ending = line.Ending();
  }
  for (const SlotSummary& slot : slots) {
    if (sum.status == 0 && slot.status != 0) {
      sum.status = slot.status;
      sum.ending = slot.ending;
    }
  }
  if (logFd >= 0) CloseAppendFile(logFd);
  if (InterruptStatus() != 0) {
    sum.status = InterruptStatus();
    sum.ending = "Stopped on request";
  }
  if (sum.ending.empty()) sum.ending = "Batch done";
  if (sum.status == 0) sum.status = line.LastFailure();
  PrintSummary(options, streams, sum, line, slots, SecondsSince(batchStarted));
  return watch.Finish(sum.status, streams.err);
}
