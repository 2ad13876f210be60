// tovrin-cli inspect: what a run would make of a file, before any board is
// touched. Reads the file and nothing else.

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/commands/inspect.h"
#include "cli/output/log_capture.h"
#include "cli/output/run_log.h"
#include "cli/output/text_output.h"
#include "flash/program_image.h"
#include "run/firmware_file.h"
#include "run/run_record.h"
#include "vocabulary/vocabulary.h"

namespace {

constexpr std::size_t kRangesListed = 16;  // in the text report; JSON lists all
constexpr int kIgnoredTypes[] = {1, 2};    // 16- and 24-bit data records, passed over by a run

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

std::vector<std::string> Warnings(const FileReport& r) {
  std::vector<std::string> warnings;
  int ignored = 0;
  for (int type : kIgnoredTypes) ignored += r.records[type];
  if (ignored > 0) {
    warnings.push_back(std::to_string(r.records[1]) + " S1 and " + std::to_string(r.records[2]) +
                       " S2 records: a run ignores them; only S3 records are programmed");
  }
  if (r.gluedRecords > 0) {
    warnings.push_back(std::to_string(r.gluedRecords) + " S3 record" + (r.gluedRecords == 1 ? "" : "s") +
                       " with text after the checksum, first on line " + std::to_string(r.firstGluedLine) +
                       ": a run drops that text, and a record glued there is lost");
  }
  if (r.conflictingBytes > 0) {
    warnings.push_back(std::to_string(r.conflictingBytes) + (r.conflictingBytes == 1 ? " address" : " addresses") +
                       " given different bytes by two records, first " + FlashAddress(r.firstConflict) +
                       ": a run sends the later record's");
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

Json ReportJson(const CliOptions& o, const FileReport& r, const std::string& message, double seconds) {
  Json records = Json::object();
  for (int type = 0; type < kRecordTypes; ++type) records[RecordName(type)] = r.records[type];
  Json report{{"command", "inspect"}, {"file", nullptr}, {"result", r.load}, {"message", message}};
  PutText(report, "file", o.file);
  report["bad_record"] = r.loaded.line == 0 ? Json(nullptr)
                                             : Json{{"line", r.loaded.line},
                                                    {"text", r.loaded.record},
                                                    {"reason", r.loaded.reason}};
  report["loader_line"] = r.loaderLine.empty() ? Json(nullptr) : Json(MessageText(r.loaderLine));
  report["records"] = records;
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

void PrintText(std::FILE* out, const CliOptions& o, const FileReport& r, const std::string& message) {
  std::fprintf(out, "File:      %s\n", Printable(o.file).c_str());
  std::fprintf(out, "Load:      %d, %s\n", r.load, message.c_str());
  if (r.loaded.line != 0) {
    std::fprintf(out, "Record:    line %zu (%s): %s\n", r.loaded.line, r.loaded.reason.c_str(),
                 Printable(r.loaded.record).c_str());
  }
  if (!r.loaderLine.empty()) std::fprintf(out, "Loader:    %s\n", MessageText(r.loaderLine).c_str());
  if (r.load == kProgramFileNotOpened) return;

  std::string counts;
  for (int type = 0; type < kRecordTypes; ++type) {
    if (r.records[type] == 0) continue;
    if (!counts.empty()) counts += ", ";
    counts += RecordName(type) + " " + std::to_string(r.records[type]);
  }
  std::fprintf(out, "Records:   %s\n", counts.empty() ? "none" : counts.c_str());
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
    report.load = read.status == FileReadStatus::kNotOpened ? kProgramFileNotOpened : kProgramDataError;
    message = std::string(ProgramResultMessage(report.load)) + ": " + read.reason;
  } else {
    const StampChoice stamp{options.revisionGiven, options.revision, options.serialGiven, options.serial};
    std::string loaderLines;
    {
      // The loader's own words for a bad record, quoted in the report.
      LogCapture capture(DiagnosticStream(options, streams));
      report = AnalyzeSRecordText(text.data(), text.size(), stamp);
      loaderLines = capture.Text();
    }
    report.loaderLine = loaderLines.substr(0, loaderLines.find('\n') + 1);
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
