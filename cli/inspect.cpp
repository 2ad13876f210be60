#include "cli/inspect.h"

#include <algorithm>
#include <memory>

#include "cli/text_output.h"
#include "flash/program_board.h"
#include "flash/vocabulary.h"

namespace {

// The loader's separators: a record is a run of anything else.
bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// "S", a type digit and a two-digit count: enough to tell a record from a word
// such as "S1" in a comment, without judging the rest (that is the loader's job).
bool LooksLikeRecord(const char* t, std::size_t length) {
  auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); };
  return length >= 4 && t[0] == 'S' && t[1] >= '0' && t[1] <= '9' && hex(t[2]) && hex(t[3]);
}

// Counts the record-like tokens by type.
void CountRecords(const char* text, std::size_t length, std::array<int, kRecordTypes>& counts) {
  for (std::size_t p = 0; p < length;) {
    while (p < length && IsSeparator(text[p])) ++p;
    const std::size_t start = p;
    while (p < length && !IsSeparator(text[p])) ++p;
    if (LooksLikeRecord(text + start, p - start)) ++counts[text[start + 1] - '0'];
  }
}

bool IsPlainText(const std::string& text) { return Printable(text) == text; }

void ChooseStamp(const StampChoice& choice, const IdentityBlock& fileIdentity, FileReport& report) {
  const IdentityTexts own = DescribeIdentity(fileIdentity);
  const bool ownRevision = own.revision.size() == 1 && IsPlainText(own.revision);
  const bool ownSerial = IsPlainText(own.serialNumber);
  report.stampRevision = choice.revisionGiven ? choice.revision : ownRevision ? own.revision : kAssumedRevision;
  report.stampSerial = choice.serialGiven ? choice.serial : ownSerial ? own.serialNumber : "";
  report.stampAssumed = (!choice.revisionGiven && !ownRevision) || (!choice.serialGiven && !ownSerial);
}

}  // namespace

std::vector<ByteRange> DataRanges(const FlashImage& image) {
  std::vector<ByteRange> ranges;
  for (std::uint32_t p = 0; p < kFlashSize; ++p) {
    if (image[p] == kErasedByte) continue;
    if (!ranges.empty() && ranges.back().last + 1 == p) {
      ranges.back().last = p;
    } else {
      ranges.push_back({p, p});
    }
  }
  return ranges;
}

FileReport AnalyzeSRecordText(const char* text, std::size_t length, const StampChoice& stamp) {
  FileReport report;
  CountRecords(text, length, report.records);

  auto image = std::make_unique<FlashImage>();
  report.loaded = LoadSRecordText(text, length, *image);
  report.load = report.loaded.result;
  if (report.load != kLoadOk) return report;
  report.data = DataRanges(*image);
  std::copy_n(image->begin() + identity::kFlashOffset, report.fileIdentity.size(), report.fileIdentity.begin());

  ChooseStamp(stamp, report.fileIdentity, report);
  StampIdentity(*image, report.stampSerial.c_str(), report.stampRevision.c_str());
  report.frames = PlanFrames(*image);
  return report;
}
