// tovrin-cli compare: the board read back and held against what a run of a file
// would write, through the read command alone; the ranges that differ listed.

#include <chrono>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/commands/board_commands.h"
#include "cli/commands/read_back_commands.h"
#include "cli/exit_codes.h"
#include "cli/output/progress.h"
#include "line/run_log.h"
#include "cli/output/text_output.h"
#include "run/read_back.h"

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

}  // namespace

int RunCompare(const CliOptions& options, const CliStreams& streams) {
  const auto started = std::chrono::steady_clock::now();
  std::FILE* diag = DiagnosticStream(options, streams);

  // The file is read before the board is reached, as program reads it.
  const FirmwareFile file = ReadFirmware(options.file, options.input);
  WireRecord watch;  // --trace and --pcap
  RunRequest request;
  std::size_t frames = 0;
  std::optional<BoardComparison> comparison;
  RunReport report = RefusedFileReport(file);
  report.board = options.board;
  if (file.Usable()) {
    report = WithBoard(options, diag, watch, [&](Session& session) {
      request = RequestFor(options, session);
      frames = PlannedFrames(file, request);
      if (!options.quiet) {
        PrintBoard(diag, options.board, session);
        std::fprintf(diag, "Comparing the board with %s, revision %s, serial number %s (%zu frames): %d reads\n",
                     Printable(options.file).c_str(), Printable(request.revision).c_str(),
                     Printable(request.serial).c_str(), frames, read_const::kFullReads);
        std::fflush(diag);
      }
      CliProgress progress(diag, ChooseProgressStyle(diag, options.quiet));
      comparison = CompareBoard(session, file, request, progress);
    });
  }

  ReadBackEnding ending;
  if (!comparison) {
    ending = EndingBeforeRead(report);
  } else if (!comparison->read.Whole()) {
    ending = EndingOfRead(comparison->read, report.stoppedBy);
  } else if (comparison->Same()) {
    ending = {0, "The board holds the image", std::nullopt, 0};
  } else {
    ending = {kProgramVerifyFailed, DiffersMessage(comparison->diff), std::nullopt, kProgramVerifyFailed};
  }
  const bool compared = comparison && comparison->read.Whole();

  if (options.json) {
    Json json{{"command", "compare"}};
    PutBoard(json, report);
    PutText(json, "file", options.file);
    json["sha256"] = file.read ? Json(file.sha256) : Json(nullptr);
    Json stamp = nullptr;
    if (comparison) {
      stamp = Json::object();
      PutText(stamp, "revision", request.revision.substr(0, 1));
      PutText(stamp, "serial", request.serial.substr(0, identity::kSerialMax));
    }
    json["stamp"] = stamp;
    json["frames"] = comparison ? Json(frames) : Json(nullptr);
    json["reads"] = comparison ? comparison->read.reads : 0;
    json["differing_bytes"] = compared ? Json(comparison->diff.bytes) : Json(nullptr);
    json["ranges"] = compared ? RangesJson(comparison->diff) : Json(nullptr);
    json["result"] = ending.result;
    json["message"] = ending.message;
    json["cause"] = CauseJson(ending.cause);
    json["seconds"] = SecondsSince(started);
    json["read_seconds"] = comparison ? comparison->seconds : 0.0;
    std::fprintf(streams.out, "%s\n", JsonLine(json).c_str());
  } else {
    PrintEnding(streams.out, ending);
    if (report.stage == RunStage::kFile) PrintLoad(streams.out, report.file);
    if (compared) PrintRanges(streams.out, comparison->diff);
  }
  std::fflush(streams.out);
  return WatchStatus(watch, ending.status, streams.err);
}
