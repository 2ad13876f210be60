// tovrin-cli batch: a production line's station. One board after another gets
// the next serial number from STATE or the station database, taken and made
// durable before the board is erased, so that no crash can hand a number out
// twice; every board met leaves one line in LOG. With several --interface
// ports, one slot per port runs at once (a gang), all drawing from the one
// store.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "cli/batch/batch_text.h"
#include "cli/batch/gang_display.h"
#include "cli/commands.h"
#include "cli/commands/board_view.h"
#include "cli/commands/job_command.h"
#include "cli/exit_codes.h"
#include "cli/output/text_output.h"
#include "line/line_files.h"
#include "line/line_run.h"
#include "os/console.h"
#include "os/files.h"
#include "os/stop.h"
#include "station/serial_store.h"

namespace {

// What the whole batch comes to: its slots' figures added up, and what ended it.
struct Summary {
  LineFigures figures;
  int status = 0;
  std::string ending;
};

// The serial numbers the summary names; empty when no store was opened.
struct Serials {
  std::string next;
  std::string first;
  std::string last;
};

// The batch's line as the arguments ask for it.
LineConfig ConfigOf(const CliOptions& options) {
  LineConfig config;
  config.file = options.file;
  config.input = options.input;
  if (options.revisionGiven) config.revision = options.revision;
  config.serialFrom = options.serialFrom;
  config.allowRepeat = options.allowRepeat;
  config.verify = options.verify;
  config.expectHardware = options.expectHardware;
  config.board = options.board;
  config.ports = options.interfaces;
  config.waitSeconds = options.waitSeconds;
  config.waits = options.waits;
  config.count = options.count;
  config.operatorName = options.operatorName;
  config.command = "batch";
  return config;
}

// Ctrl+C and SIGTERM, as the process's handlers caught them.
class InterruptStop : public LineStop {
 public:
  bool Requested() const override { return InterruptStatus() != 0; }
  std::string RequestedBy() const override { return StopName(); }
};

void PutSerial(Json& json, const char* key, const std::string& serial) {
  if (serial.empty()) {
    json[key] = nullptr;
  } else {
    PutText(json, key, serial);  // as text with its bytes kept, as a record gives them
  }
}

void PrintJsonSummary(const CliOptions& options, const CliStreams& streams, const Summary& sum,
                      const Serials& serials, const std::vector<SlotFigures>& slots) {
  const LineFigures& f = sum.figures;
  Json report{{"command", "batch"}};
  PutText(report, "file", options.file);
  report["programmed"] = f.passed;
  report["failed"] = f.failed;
  PutSerial(report, "first_serial", serials.first);
  PutSerial(report, "last_serial", serials.last);
  report["seconds_per_board"] = f.SecondsPerBoard();
  report["boards_per_hour"] = f.BoardsPerHour();
  report["seconds"] = f.seconds;
  report["next_serial"] = serials.next.empty() || serials.next == "none" ? Json(nullptr) : Json(serials.next);
  if (slots.size() > 1) {
    Json perSlot = Json::array();
    for (std::size_t i = 0; i < slots.size(); ++i) {
      const SlotFigures& slot = slots[i];
      Json one{{"slot", i + 1}, {"interface", options.interfaces[i]}, {"programmed", slot.passed}, {"failed", slot.failed}};
      PutSerial(one, "first_serial", slot.firstSerial);
      PutSerial(one, "last_serial", slot.lastSerial);
      one["boards_per_hour"] = BoardsPerHour(slot.passed, f.seconds);
      one["result"] = LineExitStatus(slot.ending, 0);
      one["message"] = slot.endingText;
      perSlot.push_back(std::move(one));
    }
    report["slots"] = perSlot;
  }
  report["result"] = sum.status;
  report["message"] = sum.ending;
  std::fprintf(streams.out, "%s\n", JsonLine(report).c_str());
}

void PrintTextSummary(const CliOptions& options, const CliStreams& streams, const Summary& sum,
                      const Serials& serials, const std::vector<SlotFigures>& slots) {
  const LineFigures& f = sum.figures;
  const bool gang = slots.size() > 1;
  std::fprintf(streams.out, "%s\n", sum.ending.c_str());
  for (std::size_t i = 0; gang && i < slots.size(); ++i) {
    const SlotFigures& slot = slots[i];
    std::fprintf(streams.out, "Slot %zu (%s): programmed %d, failed %d", i + 1, Printable(options.interfaces[i]).c_str(),
                 slot.passed, slot.failed);
    if (!slot.firstSerial.empty()) {
      std::fprintf(streams.out, ", first serial number %s, last %s", Printable(slot.firstSerial).c_str(),
                   Printable(slot.lastSerial).c_str());
    }
    std::fprintf(streams.out, ", %.0f boards per hour%s%s\n", BoardsPerHour(slot.passed, f.seconds),
                 slot.endingText.empty() ? "" : "; ", slot.endingText.c_str());
  }
  std::fprintf(streams.out, "Programmed: %d, failed: %d", f.passed, f.failed);
  if (!serials.first.empty()) {
    std::fprintf(streams.out, ", serial numbers %s to %s", Printable(serials.first).c_str(),
                 Printable(serials.last).c_str());
  }
  if (f.passed > 0) std::fprintf(streams.out, ", %.2f s per board", f.SecondsPerBoard());
  if (gang) std::fprintf(streams.out, ", %.0f boards per hour", f.BoardsPerHour());
  std::fprintf(streams.out, "\n");
}

// Everything that can end the batch before a board that is the command line's
// own: the log, the trace and capture, the state file's kind, the store.
Summary OpenBatchFiles(const CliOptions& options, LineFiles& files) {
  const LineFileNames names{options.logFile, options.traceFile, options.pcapFile, options.stateFile, options.dbTarget,
                            static_cast<int>(options.interfaces.size())};
  Summary sum;
  sum.status = LineExitStatus(files.Open(names, sum.ending), 0);
  return sum;
}

// What ended the batch: the line as a whole, else the first slot ended before
// its time, else a stop, else its last failed board.
void EndOfBatch(Summary& sum, ProductionLine& line, const std::vector<SlotFigures>& slots) {
  if (sum.status == 0 && line.Ended()) {
    sum.status = LineExitStatus(line.Ending(), 0);
    sum.ending = line.EndingText();
  }
  for (const SlotFigures& slot : slots) {
    if (sum.status == 0 && slot.ending != LineEnding::kNone) {
      sum.status = LineExitStatus(slot.ending, 0);
      sum.ending = slot.endingText;
    }
  }
  if (InterruptStatus() != 0) {
    sum.status = InterruptStatus();
    sum.ending = "Stopped on request";
  }
  if (sum.ending.empty()) sum.ending = "Batch done";
  if (const auto failed = line.LastFailure(); sum.status == 0 && failed) sum.status = RunExitStatus(*failed, 0);
}

// The line's slots with their displays: one port told line by line, a gang
// drawn together while the main thread keeps the table up to date.
std::vector<SlotFigures> RunSlots(const CliOptions& options, const CliStreams& streams, const FirmwareFile& image,
                                  ProductionLine& line, WireRecord& wireFiles) {
  std::FILE* diag = DiagnosticStream(options, streams);
  const InterruptStop stop;
  if (options.interfaces.size() <= 1) {
    BatchText text(diag, options.board, options.logFile, options.quiet, options.json ? streams.out : nullptr);
    return RunLine(image, line, {&text}, stop, &wireFiles, {});
  }
  GangDisplay display(diag, streams.out, options.json, options.quiet, EnableCursorMovement(diag), options.interfaces,
                      options.logFile);
  std::vector<SlotObserver*> views;
  for (std::size_t slot = 1; slot <= options.interfaces.size(); ++slot) views.push_back(&display.Slot(static_cast<int>(slot)));
  std::vector<SlotFigures> slots = RunLine(image, line, views, stop, &wireFiles, [&display] { display.Redraw(); });
  display.Redraw();
  return slots;
}

}  // namespace

int RunBatch(const CliOptions& options, const CliStreams& streams) {
  const auto batchStarted = std::chrono::steady_clock::now();
  InstallInterruptHandlers();
  const LineConfig config = ConfigOf(options);
  LineFiles files;  // the run log, --trace and --pcap, the store
  Summary sum = OpenBatchFiles(options, files);
  LineOpening opening;
  if (sum.status == 0) {
    opening = OpenLine(config, *files.Store());
    PrintDiagnostics(DiagnosticStream(options, streams), opening.file.load.diagnostics);
    sum.status = LineExitStatus(opening.ending, opening.file.result);
    sum.ending = opening.endingText;
  }
  // The very firmware the line programs is held against the job, before any
  // board is met.
  if (RunReport refused; sum.status == 0 && JobRefusesFirmware(options, opening.file, refused)) {
    sum.status = RefusalResult(refused.refusal);
    sum.ending = refused.refusalMessage;
  }
  std::unique_ptr<ProductionLine> line;
  if (files.Store() != nullptr) {
    line = std::make_unique<ProductionLine>(config, *files.Store(), files.StoreName(), files.KeepsRecords(), files.Log());
  }
  std::vector<SlotFigures> slots;
  if (sum.status == 0) slots = RunSlots(options, streams, opening.file, *line, files.WireFiles());
  files.CloseLog();
  Serials serials;
  if (line) {
    EndOfBatch(sum, *line, slots);
    serials = {line->NextSerial(), line->FirstSerial(), line->LastSerial()};
  } else if (InterruptStatus() != 0) {
    sum.status = InterruptStatus();
    sum.ending = "Stopped on request";
  }
  sum.figures = FiguresOf(slots, SecondsSince(batchStarted));
  if (options.json) {
    PrintJsonSummary(options, streams, sum, serials, slots);
  } else {
    PrintTextSummary(options, streams, sum, serials, slots);
  }
  std::fflush(streams.out);
  return WatchStatus(files.WireFiles().Losses(), sum.status, streams.err);
}
