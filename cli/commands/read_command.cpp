// tovrin-cli read: the board's flash, or a range of it, dumped to a file through
// the read command alone. The file is written only once every byte was read, so
// a dump that was cut short never looks like a whole one.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/commands/board_view.h"
#include "cli/commands/read_back_endings.h"
#include "cli/exit_codes.h"
#include "cli/output/text_output.h"
#include "flash/srecord_writer.h"
#include "line/wire_record.h"
#include "os/files.h"
#include "run/one_board.h"
#include "run/sha256.h"

namespace {

// The S0 record of every dump, so a file says where it came from.
constexpr const char kDumpHeader[] = "tovrin-cli read";
constexpr const char kBinarySuffix[] = ".bin";

bool IsBinaryName(const std::string& name) {
  const std::string suffix = kBinarySuffix;
  if (name.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

// "0x00400..0x007FF": the first and last address read.
std::string RangeText(const FlashRange& range) {
  return FlashAddress(range.start) + ".." + FlashAddress(range.end - 1);
}

// The dump written: its bytes and their SHA-256, or why it could not be.
struct DumpFile {
  bool written = false;
  std::string error;
  std::size_t size = 0;
  std::string sha256;
};

DumpFile WriteDump(const std::string& name, bool binary, const BoardDump& dump) {
  const std::string content =
      binary ? std::string(dump.bytes.begin(), dump.bytes.end())
             : SRecordDump(dump.bytes.data(), dump.range.start, dump.range.Length(), kDumpHeader);
  DumpFile file;
  file.written = ReplaceFileDurably(name, content, file.error);
  if (!file.written) return file;
  file.size = content.size();
  file.sha256 = Sha256Hex(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
  return file;
}

// The board's line and what the read will do, before the first read.
CliBoardView::Ready StartShown(const CliOptions& options, std::FILE* diag, const FlashRange& range) {
  return [&options, diag, range](const ReachedBoard& board, const RunRequest&, std::size_t) {
    if (options.quiet) return;
    PrintBoard(diag, board);
    std::fprintf(diag, "Reading %s (%u bytes, %d reads) into %s\n", RangeText(range).c_str(), range.Length(),
                 ReadsFor(range.start, range.end), Printable(options.outFile).c_str());
    std::fflush(diag);
  };
}

// How the read ended, the dump written when it was whole.
ReadBackEnding EndingOf(const BoardRead& read, const std::string& outFile, bool binary, DumpFile& file) {
  if (!read.dump) return EndingBeforeRead(read.report);
  if (!read.dump->read.Whole()) return EndingOfRead(read.dump->read, read.report.stoppedBy);
  file = WriteDump(outFile, binary, *read.dump);
  if (file.written) return ReadBackEnding{0, "Dump written", std::nullopt, 0};
  return ReadBackEnding{exit_code::kLogUnwritable, "Cannot write the dump: " + Printable(file.error), std::nullopt,
                        exit_code::kLogUnwritable};
}

void PrintJson(const CliOptions& options, std::FILE* out, const BoardRead& read, const DumpFile& file,
               const ReadBackEnding& ending, double seconds) {
  const FlashRange range{options.rangeStart, options.rangeEnd};
  Json json{{"command", "read"}};
  PutBoard(json, read.report);
  PutText(json, "out", options.outFile);
  json["format"] = IsBinaryName(options.outFile) ? "bin" : "srec";
  json["range"] = Json{{"start", FlashAddress(range.start)}, {"end", FlashAddress(range.end)}};
  json["reads"] = read.dump ? read.dump->read.reads : 0;
  json["written"] = file.written;
  json["file_bytes"] = file.size;
  json["sha256"] = file.written ? Json(file.sha256) : Json(nullptr);
  json["result"] = ending.result;
  json["message"] = ending.message;
  json["cause"] = CauseJson(ending.cause);
  json["seconds"] = seconds;
  json["read_seconds"] = read.dump ? read.dump->seconds : 0.0;
  std::fprintf(out, "%s\n", JsonLine(json).c_str());
}

}  // namespace

int RunRead(const CliOptions& options, const CliStreams& streams) {
  const auto started = std::chrono::steady_clock::now();
  std::FILE* diag = DiagnosticStream(options, streams);
  const FlashRange range{options.rangeStart, options.rangeEnd};
  const bool binary = IsBinaryName(options.outFile);

  WireRecord wireFiles;  // --trace and --pcap
  std::string refused;
  CliBoardView view(diag, options.quiet, StartShown(options, diag, range));
  BoardRead read;
  if (wireFiles.Open(options.traceFile, options.pcapFile, refused)) {
    read = ReadOneBoard(BoardAddressOf(options, wireFiles.Observer()), range, view);
  } else {
    read.report = RecordRefusedReport(options.board, refused);
  }
  DumpFile file;
  const ReadBackEnding ending = EndingOf(read, options.outFile, binary, file);

  if (options.json) {
    PrintJson(options, streams.out, read, file, ending, SecondsSince(started));
  } else {
    PrintEnding(streams.out, ending);
    if (file.written) {
      std::fprintf(streams.out, "%s: %s, %s (%u bytes)\n", Printable(options.outFile).c_str(),
                   binary ? "raw bytes" : "S-records", RangeText(range).c_str(), range.Length());
    } else {
      std::fprintf(streams.out, "%s was not written\n", Printable(options.outFile).c_str());
    }
  }
  std::fflush(streams.out);
  return WatchStatus(wireFiles.Losses(), ending.status, streams.err);
}
