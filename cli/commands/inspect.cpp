#include "cli/commands/inspect.h"

#include <algorithm>
#include <memory>

#include "cli/output/text_output.h"
#include "flash/identity_stamp.h"
#include "flash/image_format.h"
#include "flash/program_image.h"
#include "vocabulary/vocabulary.h"

namespace {

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

FileReport AnalyzeFile(const char* bytes, std::size_t length, const InputChoice& input, const StampChoice& stamp) {
  FileReport report;
  report.fileRead = true;
  auto image = std::make_unique<FlashImage>();
  report.loaded = LoadImage(bytes, length, input.format, input.base, *image);
  report.load = report.loaded.result;
  if (report.load != kLoadOk) return report;
  report.data = DataRanges(*image);
  std::copy_n(image->begin() + identity::kFlashOffset, report.fileIdentity.size(), report.fileIdentity.begin());

  ChooseStamp(stamp, report.fileIdentity, report);
  StampIdentity(*image, report.stampSerial, report.stampRevision);
  report.frames = PlanFrames(*image);
  return report;
}
