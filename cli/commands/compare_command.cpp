// tovrin-cli compare: the board read back and held against what a run of a file
// would write, through the read command alone; the ranges that differ listed.

#include <chrono>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/commands/board_view.h"
#include "cli/commands/read_back_endings.h"
#include "cli/exit_codes.h"
#include "cli/output/text_output.h"
#include "line/wire_record.h"
#include "run/one_board.h"

namespace {

// The text lists this many ranges; --json lists them all.
constexpr std::size_t kRangesShown = 20;

std::string Plural(std::uint32_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string DiffersMessage(const FlashDiff& diff) {
  return "The board differs in " + Plural(diff.bytes, "byte", "bytes") + ", " +
         Plural(static_cast<std::uint32_t>(diff.ranges.size()), "range", "ranges");
}

Json RangesJson(const FlashDiff& diff) {
  Json ranges = Json::array();
  for (const DiffRange& r : diff.ranges) {
    ranges.push_back({{"first", FlashAddress(r.first)}, {"last", FlashAddress(r.last)}, {"count", r.bytes}});
  }
  return ranges;
}

void PrintRanges(std::FILE* out, const FlashDiff& diff) {
  for (std::size_t i = 0; i < diff.ranges.size() && i < kRangesShown; ++i) {
    const DiffRange& r = diff.ranges[i];
    std::fprintf(out, "  %s..%s  %s differ\n", FlashAddress(r.first).c_str(), FlashAddress(r.last).c_str(),
                 Plural(r.bytes, "byte", "bytes").c_str());
  }
  if (diff.ranges.size() > kRangesShown) {
    std::fprintf(out, "  ... and %zu more ranges (--json lists them all)\n", diff.ranges.size() - kRangesShown);
  }
}

// Why the file was refused, as program says it.
void PrintLoad(std::FILE* out, const FileFacts& file) {
  const LoadReport& load = file.load;
  if (load.line != 0) {
    std::fprintf(out, "Record: line %zu (%s): %s\n", load.line, load.reason.c_str(), Printable(load.record).c_str());
  } else if (!file.reason.empty() || !load.reason.empty()) {
    std::fprintf(out, "Reason: %s\n", Printable(file.reason.empty() ? load.reason : file.reason).c_str());
  }
}

// The board's line and what the comparison holds it against, before the first read.
CliBoardView::Ready StartShown(const CliOptions& options, std::FILE* diag) {
  return [&options, diag](const ReachedBoard& board, const RunRequest& request, std::size_t frames) {
    if (options.quiet) return;
    PrintBoard(diag, board);
    std::fprintf(diag, "Comparing the board with %s, revision %s, serial number %s (%zu frames): %d reads\n",
                 Printable(options.file).c_str(), Printable(request.revision).c_str(),
                 Printable(request.serial).c_str(), frames, read_const::kFullReads);
    std::fflush(diag);
  };
}

ReadBackEnding EndingOf(const BoardCompared& compared) {
  const std::optional<BoardComparison>& comparison = compared.comparison;
  if (!comparison) return EndingBeforeRead(compared.report);
  if (!comparison->read.Whole()) return EndingOfRead(comparison->read, compared.report.stoppedBy);
  if (comparison->Same()) return {0, "The board holds the image", std::nullopt, 0};
  return {kProgramVerifyFailed, DiffersMessage(comparison->diff), std::nullopt, kProgramVerifyFailed};
}

void PrintJson(const CliOptions& options, std::FILE* out, const FirmwareFile& file, const BoardCompared& compared,
               const ReadBackEnding& ending, double seconds) {
  const std::optional<BoardComparison>& comparison = compared.comparison;
  const bool whole = comparison && comparison->read.Whole();
  Json json{{"command", "compare"}};
  PutBoard(json, compared.report);
  PutText(json, "file", options.file);
  json["sha256"] = file.read ? Json(file.sha256) : Json(nullptr);
  Json stamp = nullptr;
  if (comparison) {
    stamp = Json::object();
    PutText(stamp, "revision", compared.request.revision.substr(0, 1));
    PutText(stamp, "serial", compared.request.serial.substr(0, identity::kSerialMax));
  }
  json["stamp"] = stamp;
  json["frames"] = comparison ? Json(compared.frames) : Json(nullptr);
  json["reads"] = comparison ? comparison->read.reads : 0;
  json["differing_bytes"] = whole ? Json(comparison->diff.bytes) : Json(nullptr);
  json["ranges"] = whole ? RangesJson(comparison->diff) : Json(nullptr);
  json["result"] = ending.result;
  json["message"] = ending.message;
  json["cause"] = CauseJson(ending.cause);
  json["seconds"] = seconds;
  json["read_seconds"] = comparison ? comparison->seconds : 0.0;
  std::fprintf(out, "%s\n", JsonLine(json).c_str());
}

}  // namespace

int RunCompare(const CliOptions& options, const CliStreams& streams) {
  const auto started = std::chrono::steady_clock::now();
  std::FILE* diag = DiagnosticStream(options, streams);

  // The file is read before the board is reached, as program reads it; the
  // trace is opened only for a file that can be used.
  const FirmwareFile file = ReadFirmware(options.file, options.input);
  PrintDiagnostics(diag, file.load.diagnostics);
  WireRecord wireFiles;  // --trace and --pcap
  std::string refused;
  CliBoardView view(diag, options.quiet, StartShown(options, diag));
  BoardCompared compared;
  if (file.Usable() && !wireFiles.Open(options.traceFile, options.pcapFile, refused)) {
    compared.report = RecordRefusedReport(options.board, refused);
  } else {
    compared = CompareOneBoard(BoardAddressOf(options, wireFiles.Observer()), file, StampOf(options), view);
  }
  const ReadBackEnding ending = EndingOf(compared);

  if (options.json) {
    PrintJson(options, streams.out, file, compared, ending, SecondsSince(started));
  } else {
    PrintEnding(streams.out, ending);
    if (compared.report.stage == RunStage::kFile) PrintLoad(streams.out, compared.report.file);
    if (compared.comparison && compared.comparison->read.Whole()) PrintRanges(streams.out, compared.comparison->diff);
  }
  std::fflush(streams.out);
  return WatchStatus(wireFiles.Losses(), ending.status, streams.err);
}
