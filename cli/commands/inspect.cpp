#include "cli/commands/inspect.h"

#include <algorithm>
#include <memory>

#include "cli/output/text_output.h"
#include "flash/identity_stamp.h"
#include "flash/program_image.h"
#include "vocabulary/vocabulary.h"

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

int HexByte(const char* t) {
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  const int high = nibble(t[0]), low = nibble(t[1]);
  return high < 0 || low < 0 ? -1 : high << 4 | low;
}

// Finds what a successful load passed over in silence: characters after an S3
// record's checksum, and bytes given twice with different values.
void FindSilentlyAccepted(const char* text, std::size_t length, FileReport& report) {
  constexpr std::size_t kDataAt = 12;         // "S3", count, four address bytes
  constexpr unsigned kCountOverhead = 5;      // address and checksum bytes
  std::vector<std::int16_t> given(kFlashSize, -1);
  std::size_t line = 1;
  for (std::size_t p = 0; p < length;) {
    while (p < length && IsSeparator(text[p])) line += text[p++] == '\n';
    const std::size_t start = p;
    while (p < length && !IsSeparator(text[p])) ++p;
    const char* t = text + start;
    const std::size_t size = p - start;
    if (size < kDataAt || t[0] != 'S' || t[1] != '3') continue;
    const int count = HexByte(t + 2);
    if (count < static_cast<int>(kCountOverhead)) continue;
    if (size > 4 + 2 * static_cast<std::size_t>(count)) {
      if (report.gluedRecords++ == 0) report.firstGluedLine = line;
    }
    std::uint32_t address = 0;
    for (int i = 0; i < 4; ++i) address = address << 8 | static_cast<std::uint32_t>(HexByte(t + 4 + 2 * i) & 0xFF);
    for (std::size_t i = 0; i + kCountOverhead < static_cast<unsigned>(count) && address < kFlashSize; ++i) {
      const int b = HexByte(t + kDataAt + 2 * i);
      if (b < 0) break;
      if (given[address] >= 0 && given[address] != b && report.conflictingBytes++ == 0) report.firstConflict = address;
      given[address++] = static_cast<std::int16_t>(b);
    }
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
  report.loaded = LoadForProgramming(text, length, *image);
  report.load = report.loaded.result;
  if (report.load != kLoadOk) return report;
  report.data = DataRanges(*image);
  FindSilentlyAccepted(text, length, report);
  std::copy_n(image->begin() + identity::kFlashOffset, report.fileIdentity.size(), report.fileIdentity.begin());

  ChooseStamp(stamp, report.fileIdentity, report);
  StampIdentity(*image, report.stampSerial, report.stampRevision);
  report.frames = PlanFrames(*image);
  return report;
}
