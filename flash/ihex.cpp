// Fills the flash image from an Intel HEX file: one record per line, each a
// colon, a byte count, a 16-bit offset, a type, the data and a checksum that
// makes all the record's bytes sum to zero. Every record is read whole and
// checked before any of its bytes is stored.

#include <algorithm>
#include <cstdint>
#include <string>

#include "common/diagnostic_line.h"
#include "flash/image_format.h"
#include "flash/text_scan.h"
#include "flash/written_bytes.h"

namespace {

namespace hex {
constexpr char kMark = ':';
constexpr std::size_t kCountAt = 1;      // chars: the byte count, then the offset, the type and the data
constexpr std::size_t kFieldBytes = 5;   // bytes: count, offset (2), type and checksum
constexpr std::size_t kMinChars = 1 + 2 * kFieldBytes;
constexpr std::size_t kMaxRecordChars = kMinChars + 2 * 0xFF;  // the longest record a count allows
constexpr std::size_t kOffsetAt = 1;     // bytes, counted after the colon
constexpr std::size_t kTypeAt = 3;
constexpr std::size_t kDataAt = 4;
constexpr unsigned kAddressBytes = 2;    // data bytes of an extended address record
constexpr unsigned kStartBytes = 4;      // data bytes of a start address record
constexpr std::uint64_t kSegmentSpan = 0x10000;  // bytes an offset reaches; segment addresses wrap within it
constexpr unsigned kSegmentShift = 4;    // an extended segment address is in paragraphs of 16 bytes
constexpr unsigned kLinearShift = 16;    // an extended linear address gives the upper 16 bits
enum Type : std::uint8_t {
  kData = 0,
  kEndOfFile = 1,
  kExtendedSegment = 2,
  kStartSegment = 3,
  kExtendedLinear = 4,
  kStartLinear = 5,
};
}  // namespace hex

int QuoteLength(std::size_t length) { return static_cast<int>(length < hex::kMaxRecordChars ? length : hex::kMaxRecordChars); }

class HexLoader {
 public:
  HexLoader(FlashImage& image, LoadReport& report) : image_(image), report_(report) {}

  // kLoadOk, or the result the record ends the load with.
  int Record(const char* text, std::size_t length, std::size_t line) {
    text_ = text;
    length_ = length;
    line_ = line;
    if (text[0] != hex::kMark) return Reject("not an Intel HEX record");
    if (length < hex::kMinChars) return Reject("too short");
    const int count = Byte(0);
    if (count < 0) return Reject("count not hex");
    const std::size_t bytes = hex::kFieldBytes + static_cast<std::size_t>(count);
    if (length < 1 + 2 * bytes) return Reject("shorter than its count");
    if (length > 1 + 2 * bytes) return Reject("longer than its count");
    unsigned sum = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
      const int b = Byte(i);
      if (b < 0) return Reject("not hex");
      bytes_[i] = static_cast<std::uint8_t>(b);
      if (i + 1 < bytes) sum += static_cast<unsigned>(b);
    }
    sum &= 0xFF;
    if (((sum + bytes_[bytes - 1]) & 0xFF) != 0) {
      report_.diagnostics.push_back(DiagnosticLine("error in Intel HEX Check Sum %2x:%.*s\n", sum, QuoteLength(length), text));
      return Stop(kLoadChecksumError, "checksum does not match");
    }

    const unsigned offset = static_cast<unsigned>(bytes_[hex::kOffsetAt]) << 8 | bytes_[hex::kOffsetAt + 1];
    const std::uint8_t type = bytes_[hex::kTypeAt];
    const std::uint8_t* data = bytes_ + hex::kDataAt;
    const auto dataBytes = static_cast<unsigned>(count);
    if (type < report_.stats.hexRecords.size()) ++report_.stats.hexRecords[type];
    switch (type) {
      case hex::kData:
        return Store(offset, data, dataBytes);
      case hex::kEndOfFile:
        if (dataBytes != 0) return Reject("end-of-file record with data");
        report_.stats.hexEndRecord = true;
        return kLoadOk;
      case hex::kExtendedSegment:
      case hex::kExtendedLinear: {
        if (dataBytes != hex::kAddressBytes) return Reject("address record without 2 data bytes");
        const std::uint64_t value = static_cast<std::uint64_t>(data[0]) << 8 | data[1];
        segmented_ = type == hex::kExtendedSegment;
        base_ = value << (segmented_ ? hex::kSegmentShift : hex::kLinearShift);
        return kLoadOk;
      }
      case hex::kStartSegment:
      case hex::kStartLinear:
        // Where a program starts running says nothing about the flash's content.
        return dataBytes == hex::kStartBytes ? kLoadOk : Reject("start record without 4 data bytes");
      default:
        return Reject("unknown record type");
    }
  }

 private:
  int Byte(std::size_t index) const {
    return HexByte(text_ + hex::kCountAt + 2 * index);
  }

  // Under an extended segment address the offset wraps within its 64 KiB; under
  // a linear one (or none) the bytes run on.
  int Store(unsigned offset, const std::uint8_t* data, unsigned count) {
    const std::uint64_t firstPart = segmented_ ? std::min<std::uint64_t>(count, hex::kSegmentSpan - offset) : count;
    const std::uint64_t starts[2] = {base_ + offset, base_};
    const std::uint64_t lengths[2] = {firstPart, count - firstPart};
    for (int part = 0; part < 2; ++part) {
      if (lengths[part] == 0) continue;
      const std::uint64_t start = starts[part];
      if (start >= kFlashSize || lengths[part] > kFlashSize - start) {
        const std::uint64_t outside = start >= kFlashSize ? start : kFlashSize;
        report_.diagnostics.push_back(
            DiagnosticLine("error in Intel HEX Address %8llx\n", static_cast<unsigned long long>(outside)));
        return Stop(kLoadDataError, "address beyond the flash");
      }
    }
    for (int part = 0; part < 2; ++part) {
      if (lengths[part] == 0) continue;
      written_.Store(image_, static_cast<std::uint32_t>(starts[part]), data + (part == 0 ? 0 : firstPart),
                     static_cast<std::size_t>(lengths[part]), report_.stats);
    }
    return kLoadOk;
  }

  int Reject(const char* why) {
    Stop(kLoadDataError, why);
    report_.diagnostics.push_back(
        DiagnosticLine("error in Intel HEX record at line %zu (%s): %.*s\n", line_, why, QuoteLength(length_), text_));
    return kLoadDataError;
  }

  int Stop(int result, const char* why) {
    report_.result = result;
    report_.line = line_;
    report_.record.assign(text_, static_cast<std::size_t>(QuoteLength(length_)));
    report_.reason = why;
    return result;
  }

  FlashImage& image_;
  LoadReport& report_;
  WrittenBytes written_;
  std::uint64_t base_ = 0;
  bool segmented_ = false;
  std::uint8_t bytes_[hex::kFieldBytes + 0xFF] = {};
  const char* text_ = nullptr;
  std::size_t length_ = 0;
  std::size_t line_ = 0;
};

}  // namespace

LoadReport LoadIntelHexText(const char* text, std::size_t length, FlashImage& image) {
  LoadReport report;
  report.format = ImageFormat::kIntelHex;
  image.fill(kErasedByte);
  HexLoader loader(image, report);
  std::size_t line = 1;
  for (std::size_t p = 0; p < length;) {
    if (IsSpace(text[p])) {
      line += text[p++] == '\n';
      continue;
    }
    const std::size_t start = p;
    while (p < length && !IsSpace(text[p])) ++p;
    // Whatever follows the end-of-file record is not part of the file's data.
    if (report.stats.hexEndRecord) {
      report.stats.textAfterEndLine = line;
      break;
    }
    if (loader.Record(text + start, p - start, line) != kLoadOk) break;
  }
  return report;
}
