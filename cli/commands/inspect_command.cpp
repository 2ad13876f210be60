// tovrin-cli inspect: what a run would make of a file, before any board is
// touched. Reads the file and nothing else.

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/commands/inspect.h"
#include "common/diagnostic_line.h"
#include "line/run_log.h"
#include "cli/output/text_output.h"
#include "flash/image_format.h"
#include "flash/program_image.h"
#include "run/firmware_file.h"
#include "run/run_record.h"
#include "vocabulary/vocabulary.h"

namespace {

constexpr std::size_t kRangesListed = 16;  // in the text report; JSON lists all
constexpr int kIgnoredTypes[] = {1, 2};    // 16- and 24-bit data records, passed over by a run
constexpr int kSRecordTypes = stats_const::kSRecordTypes;

// Intel HEX record types 00..05 by name: the JSON key and the words for people.
struct HexTypeName {
  const char* key;
  const char* words;
};
constexpr HexTypeName kHexTypes[stats_const::kIntelHexTypes] = {
    {"data", "data"},
    {"end_of_file", "end-of-file"},
    {"extended_segment_address", "extended segment address"},
    {"start_segment_address", "start segment address (ignored)"},
    {"extended_linear_address", "extended linear address"},
    {"start_linear_address", "start linear address (ignored)"},
};

// "S0".."S9". Built in a buffer: GCC 12 warns falsely (-Wrestrict) about
// "S" + std::to_string(...) in optimised builds.
std::string RecordName(int type) {
  char name[4];
  std::snprintf(name, sizeof name, "S%d", type);
  return name;
}

std::string LoadMessage(int load) { return load == kLoadOk ? "loaded" : ProgramResultMessage(load); }

std::uint32_t DataBytes(const FileReport& r) {
  std::uint32_t bytes = 0;
  for (const ByteRange& range : r.data) bytes += range.last - range.first + 1;
  return bytes;
}

bool IsFormat(const FileReport& r, ImageFormat format) { return r.fileRead && r.loaded.format == format; }

std::vector<std::string> Warnings(const FileReport& r) {
  std::vector<std::string> warnings;
  const LoadStats& s = r.loaded.stats;
  std::size_t ignored = 0;
  for (int type : kIgnoredTypes) ignored += s.sRecords[type];
  if (ignored > 0) {
    warnings.push_back(std::to_string(s.sRecords[1]) + " S1 and " + std::to_string(s.sRecords[2]) +
                       " S2 records: a run ignores them; only S3 records are programmed");
  }
  if (s.gluedRecords > 0) {
    warnings.push_back(std::to_string(s.gluedRecords) + " S3 record" + (s.gluedRecords == 1 ? "" : "s") +
                       " with text after the checksum, first on line " + std::to_string(s.firstGluedLine) +
                       ": a run drops that text, and a record glued there is lost");
  }
  if (IsFormat(r, ImageFormat::kIntelHex) && r.load == kLoadOk && !s.hexEndRecord) {
    warnings.push_back("no end-of-file record: the file may have been cut short");
  }
  if (s.textAfterEndLine != 0) {
    warnings.push_back("text after the end-of-file record, from line " + std::to_string(s.textAfterEndLine) +
                       ": a run ignores it");
  }
  if (s.conflictingBytes > 0) {
    const std::string giver = IsFormat(r, ImageFormat::kElf) ? "segment" : "record";
    warnings.push_back(std::to_string(s.conflictingBytes) + (s.conflictingBytes == 1 ? " address" : " addresses") +
                       " given different bytes by two " + giver + "s, first " + FlashAddress(s.firstConflict) +
                       ": a run sends the later " + giver + "'s");
  }
  if (r.frames.unsentBytes > 0) {
    warnings.push_back(UnsentWarning(r.frames));
  }
  return warnings;
}

std::string StampSource(const CliOptions& o, const FileReport& r) {
  if (o.revisionGiven && o.serialGiven) return "as given";
  return r.stampAssumed ? "assumed: the file holds no readable identity; give --rev and --serial"
                        : "from the file where not given; a run stamps the board's";
}

// Records by type for the formats made of records; null for the others.
Json RecordsJson(const FileReport& r) {
  const LoadStats& s = r.loaded.stats;
  Json records = Json::object();
  if (IsFormat(r, ImageFormat::kSRecord)) {
    for (int type = 0; type < kSRecordTypes; ++type) records[RecordName(type)] = s.sRecords[type];
  } else if (IsFormat(r, ImageFormat::kIntelHex)) {
    for (int type = 0; type < stats_const::kIntelHexTypes; ++type) records[kHexTypes[type].key] = s.hexRecords[type];
  } else {
    return nullptr;
  }
  return records;
}

Json SegmentsJson(const LoadStats& s) {
  Json segments = Json::array();
  for (const ElfSegment& e : s.segments) {
    segments.push_back({{"index", e.index},
                        {"type", e.type},
                        {"offset", e.offset},
                        {"physical", e.physical},
                        {"virtual", e.virtualAddress},
                        {"file_bytes", e.fileBytes},
                        {"memory_bytes", e.memoryBytes},
                        {"loaded", e.loaded},
                        {"skipped", e.skipped.empty() ? Json(nullptr) : Json(e.skipped)}});
  }
  return segments;
}

Json ReportJson(const CliOptions& o, const FileReport& r, const std::string& message, double seconds) {
  Json report{{"command", "inspect"}, {"file", nullptr}, {"result", r.load}, {"message", message}};
  PutText(report, "file", o.file);
  report["format"] = r.fileRead && r.loaded.format != ImageFormat::kAuto ? Json(FormatName(r.loaded.format)) : Json(nullptr);
  report["bad_record"] = r.loaded.line == 0 ? Json(nullptr)
                                             : Json{{"line", r.loaded.line},
                                                    {"text", r.loaded.record},
                                                    {"reason", r.loaded.reason}};
  // Why the file was refused when no one record is to blame (an ELF segment, a raw binary's size).
  report["reason"] = r.loaded.line != 0 || r.loaded.reason.empty() ? Json(nullptr) : Json(r.loaded.reason);
  report["loader_line"] = r.loaderLine.empty() ? Json(nullptr) : Json(MessageText(r.loaderLine));
  report["records"] = RecordsJson(r);
  if (IsFormat(r, ImageFormat::kElf)) {
    report["elf"] = {{"bits", r.loaded.stats.elfBits}, {"byte_order", r.loaded.stats.elfBigEndian ? "big" : "little"}};
    report["segments"] = SegmentsJson(r.loaded.stats);
  }
  if (IsFormat(r, ImageFormat::kBinary)) report["base"] = r.loaded.stats.base;
  report["warnings"] = Warnings(r);
  if (r.load == kLoadOk) {
    Json data = Json::array();
    for (const ByteRange& range : r.data) data.push_back({{"first", range.first}, {"last", range.last}});
    report["data"] = data;
    report["data_bytes"] = DataBytes(r);
    const auto& starts = r.frames.starts;
    Json frames{{"count", starts.size()}};
    frames["first"] = starts.empty() ? Json(nullptr) : Json(starts.front());
    frames["last"] = starts.empty() ? Json(nullptr) : Json(starts.back());
    frames["unsent_bytes"] = r.frames.unsentBytes;
    report["frames"] = frames;
    report["stamp"] = {{"revision", r.stampRevision}, {"serial", r.stampSerial}, {"assumed", r.stampAssumed}};
    report["file_identity"] = IdentityJson(r.fileIdentity);
  }
  report["seconds"] = seconds;
  return report;
}

// What the loader read: the records by type, an ELF file's
// segments (each loaded or skipped, and why), a binary's base.
void PrintContent(std::FILE* out, const FileReport& r) {
  const LoadStats& s = r.loaded.stats;
  std::string counts;
  auto count = [&counts](const std::string& name, std::size_t n) {
    if (n == 0) return;
    if (!counts.empty()) counts += ", ";
    counts += name + " " + std::to_string(n);
  };
  if (IsFormat(r, ImageFormat::kSRecord)) {
    for (int type = 0; type < kSRecordTypes; ++type) count(RecordName(type), s.sRecords[type]);
  } else if (IsFormat(r, ImageFormat::kIntelHex)) {
    for (int type = 0; type < stats_const::kIntelHexTypes; ++type) count(kHexTypes[type].words, s.hexRecords[type]);
  }
  if (IsFormat(r, ImageFormat::kSRecord) || IsFormat(r, ImageFormat::kIntelHex)) {
    std::fprintf(out, "Records:   %s\n", counts.empty() ? "none" : counts.c_str());
  }
  if (IsFormat(r, ImageFormat::kElf) && s.elfBits != 0) {
    std::fprintf(out, "ELF:       %d-bit %s-endian, %zu program header%s read\n", s.elfBits,
                 s.elfBigEndian ? "big" : "little", s.segments.size(), s.segments.size() == 1 ? "" : "s");
    for (const ElfSegment& e : s.segments) {
      if (!e.loaded) {
        std::fprintf(out, "Segment:   %zu skipped: %s\n", e.index, e.skipped.empty() ? "refused" : e.skipped.c_str());
        continue;
      }
      const auto first = static_cast<std::uint32_t>(e.physical);
      std::fprintf(out, "Segment:   %zu loaded: %s-%s (virtual 0x%08llX), %llu bytes", e.index,
                   FlashAddress(first).c_str(), FlashAddress(static_cast<std::uint32_t>(first + e.fileBytes - 1)).c_str(),
                   static_cast<unsigned long long>(e.virtualAddress), static_cast<unsigned long long>(e.fileBytes));
      if (e.memoryBytes > e.fileBytes) {
        std::fprintf(out, "; %llu more zeroed at run time, not programmed",
                     static_cast<unsigned long long>(e.memoryBytes - e.fileBytes));
      }
      std::fprintf(out, "\n");
    }
  }
  if (IsFormat(r, ImageFormat::kBinary)) {
    std::fprintf(out, "Binary:    %zu bytes from %s\n", s.dataBytes, FlashAddress(s.base).c_str());
  }
}

void PrintText(std::FILE* out, const CliOptions& o, const FileReport& r, const std::string& message) {
  std::fprintf(out, "File:      %s\n", Printable(o.file).c_str());
  if (r.fileRead) {
    std::fprintf(out, "Format:    %s (%s)\n", FormatTitle(r.loaded.format),
                 o.input.format == ImageFormat::kAuto ? "from the content" : "as asked");
  }
  std::fprintf(out, "Load:      %d, %s\n", r.load, message.c_str());
  if (r.loaded.line != 0) {
    std::fprintf(out, "Record:    line %zu (%s): %s\n", r.loaded.line, r.loaded.reason.c_str(),
                 Printable(r.loaded.record).c_str());
  } else if (!r.loaded.reason.empty()) {
    std::fprintf(out, "Reason:    %s\n", Printable(r.loaded.reason).c_str());
  }
  if (!r.loaderLine.empty()) std::fprintf(out, "Loader:    %s\n", MessageText(r.loaderLine).c_str());
  if (!r.fileRead) return;
  PrintContent(out, r);
  for (const std::string& w : Warnings(r)) std::fprintf(out, "Warning:   %s\n", w.c_str());
  if (r.load != kLoadOk) {
    std::fprintf(out, "Frames:    none: a run stops %s, before erasing\n",
                 r.loaded.line != 0 ? "at this record" : "here");
    return;
  }

  std::fprintf(out, "Data:      %zu range%s of bytes other than 0xFF, %u bytes\n", r.data.size(),
               r.data.size() == 1 ? "" : "s", DataBytes(r));
  for (std::size_t i = 0; i < r.data.size() && i < kRangesListed; ++i) {
    const ByteRange& range = r.data[i];
    std::fprintf(out, "           %s-%s  %u bytes\n", FlashAddress(range.first).c_str(),
                 FlashAddress(range.last).c_str(), range.last - range.first + 1);
  }
  if (r.data.size() > kRangesListed) std::fprintf(out, "           ... %zu more\n", r.data.size() - kRangesListed);

  if (!r.frames.starts.empty()) {
    std::fprintf(out, "Frames:    %zu program frames of %u bytes, first at %s, last at %s\n", r.frames.starts.size(),
                 plan_const::kBlockLength, FlashAddress(r.frames.starts.front()).c_str(),
                 FlashAddress(r.frames.starts.back()).c_str());
  } else {
    std::fprintf(out, "Frames:    none\n");
  }
  std::fprintf(out, "           with revision '%s', serial number '%s' stamped at %s (%s)\n",
               Printable(r.stampRevision).c_str(), Printable(r.stampSerial).c_str(),
               FlashAddress(identity::kFlashOffset).c_str(), StampSource(o, r).c_str());

  const IdentityTexts own = DescribeIdentity(r.fileIdentity);
  std::fprintf(out, "Identity:  the file holds %s at %s\n",
               HexBytes(r.fileIdentity.data(), r.fileIdentity.size()).c_str(),
               FlashAddress(identity::kFlashOffset).c_str());
  std::fprintf(out, "           revision '%s', serial number '%s', hardware '%s'\n", Printable(own.revision).c_str(),
               Printable(own.serialNumber).c_str(), Printable(own.hardware).c_str());
}

}  // namespace

int RunInspect(const CliOptions& options, const CliStreams& streams) {
  const auto started = std::chrono::steady_clock::now();
  FileReport report;
  std::string message;
  const FileBytes read = ReadFirmwareBytes(options.file);
  const std::string& text = read.bytes;
  if (read.status != FileReadStatus::kRead) {
    report.load = read.status == FileReadStatus::kNotOpened || read.status == FileReadStatus::kMissing
                      ? kProgramFileNotOpened
                      : kProgramDataError;
    message = std::string(ProgramResultMessage(report.load)) + ": " + read.reason;
  } else {
    const StampChoice stamp{options.revisionGiven, options.revision, options.serialGiven, options.serial};
    report = AnalyzeFile(text.data(), text.size(), options.input, stamp);
    // The loader's own words for a bad record, quoted in the report.
    if (!report.loaded.diagnostics.empty()) report.loaderLine = EscapedLine(report.loaded.diagnostics.front());
    message = LoadMessage(report.load);
  }

  if (options.json) {
    std::fprintf(streams.out, "%s\n", JsonLine(ReportJson(options, report, message, SecondsSince(started))).c_str());
  } else {
    PrintText(streams.out, options, report, message);
  }
  std::fflush(streams.out);
  return report.load;
}
