#include "cli/inspect.h"

#include <algorithm>
#include <memory>

#include "cli/text_output.h"
#include "console/console.h"
#include "flash/program_board.h"

namespace {

struct Token {
  std::size_t at;
  std::size_t length;
};

// The loader's separators: a record is a run of anything else.
bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsS3(const char* text, Token t) { return t.length >= 2 && text[t.at] == 'S' && text[t.at + 1] == '3'; }

// "S", a type digit and a two-digit count: enough to tell a record from a word
// such as "S1" in a comment, without judging the rest (that is the loader's job).
bool LooksLikeRecord(const char* t, std::size_t length) {
  auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); };
  return length >= 4 && t[0] == 'S' && t[1] >= '0' && t[1] <= '9' && hex(t[2]) && hex(t[3]);
}

// Counts the record-like tokens by type and returns where the S3 ones are.
std::vector<Token> ScanRecords(const char* text, std::size_t length, std::array<int, kRecordTypes>& counts) {
  std::vector<Token> s3;
  for (std::size_t p = 0; p < length;) {
    while (p < length && IsSeparator(text[p])) ++p;
    const std::size_t start = p;
    while (p < length && !IsSeparator(text[p])) ++p;
    const Token token{start, p - start};
    if (IsS3(text, token)) s3.push_back(token);
    if (LooksLikeRecord(text + start, token.length)) ++counts[text[start + 1] - '0'];
  }
  return s3;
}

// The loader itself decides which record is bad: a prefix of the file that ends
// after the k-th S3 record loads cleanly exactly when the bad record lies beyond
// it, because a record is judged on its own text. Bisecting over those prefixes
// finds the first bad one without a second reading of the record format.
void FindRejectedRecord(const char* text, const std::vector<Token>& s3, FlashImage& scratch, FileReport& report) {
  if (s3.empty()) return;
  std::size_t low = 0;
  std::size_t high = s3.size() - 1;
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (LoadSRecordText(text, s3[middle].at + s3[middle].length, scratch) != kLoadOk) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  const Token bad = s3[low];
  report.badLine = 1 + static_cast<std::size_t>(std::count(text, text + bad.at, '\n'));
  report.badRecord.assign(text + bad.at, std::min(bad.length, kQuotedRecordMax));
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

FramePlan PlanFrames(const FlashImage& stamped) {
  using program_const::kBlockLength;
  FramePlan plan;
  std::uint32_t judged = 0;  // bytes below this are in a frame or were counted
  auto countUnsent = [&](std::uint32_t upTo) {
    for (std::uint32_t p = judged; p < upTo; ++p) {
      if (stamped[p] != kErasedByte && plan.unsentBytes++ == 0) plan.firstUnsent = p;
    }
  };
  for (std::uint32_t start = NextBlockStart(stamped, 0); start != program_const::kNoMoreBlocks;
       start = NextBlockStart(stamped, start + kBlockLength)) {
    countUnsent(start);
    if (plan.count++ == 0) plan.first = start;
    plan.last = start;
    judged = std::max(judged, std::min(start + kBlockLength, kFlashSize));
  }
  countUnsent(kFlashSize);
  return plan;
}

FileReport AnalyzeSRecordText(const char* text, std::size_t length, const StampChoice& stamp) {
  FileReport report;
  const std::vector<Token> s3 = ScanRecords(text, length, report.records);

  auto image = std::make_unique<FlashImage>();
  report.load = LoadSRecordText(text, length, *image);
  if (report.load != kLoadOk) {
    FindRejectedRecord(text, s3, *image, report);
    return report;
  }
  report.data = DataRanges(*image);
  std::copy_n(image->begin() + identity::kFlashOffset, report.fileIdentity.size(), report.fileIdentity.begin());

  ChooseStamp(stamp, report.fileIdentity, report);
  StampIdentity(*image, report.stampSerial.c_str(), report.stampRevision.c_str());
  report.frames = PlanFrames(*image);
  return report;
}

int PlanRunFromFile(const char* fileName, const char* serialNumber, const char* revision, FramePlan& plan) {
  std::FILE* file = std::fopen(fileName, "r");
  if (file == nullptr) return kProgramFileNotOpened;
  auto image = std::make_unique<FlashImage>();
  const int loaded = LoadSRecordImage(file, *image);
  std::fclose(file);
  if (loaded != kLoadOk) return loaded;
  StampIdentity(*image, serialNumber, revision);
  plan = PlanFrames(*image);
  return kLoadOk;
}
