// Fills the flash image from the S3 records of an S-record file. The file is read
// in one go and cut into whitespace-separated tokens in memory, so a full image of
// about 4000 records loads in well under a millisecond.

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "common/diagnostic_line.h"
#include "flash/flash_image.h"
#include "flash/text_scan.h"
#include "flash/written_bytes.h"

namespace {

// Layout of an S3 record's text, in characters from the start of its token.
namespace s3 {
constexpr char kTag0 = 'S';
constexpr char kTag1 = '3';
constexpr std::size_t kCountAt = 2;     // chars: 2 hex digits, bytes after the count field
constexpr std::size_t kAddressAt = 4;   // chars: 8 hex digits, 32-bit big-endian address
constexpr std::size_t kDataAt = 12;     // chars: first data byte
constexpr std::size_t kHeadChars = 12;  // chars: tag, count and address
constexpr unsigned kCountOverhead = 5;  // bytes: 4 address bytes and the checksum byte
constexpr unsigned kMaxCount = 0xFF;    // bytes: the count is a single byte
// chars: the longest text a count can describe; whatever follows it in a token is
// trailing text, so a quoted record is cut here.
constexpr std::size_t kMaxRecordChars = 4 + 2 * kMaxCount;
}  // namespace s3

namespace input {
constexpr std::size_t kFirstReadSize = 64 * 1024;  // bytes, when the file's size is unknown
}

struct Token {
  const char* text;
  std::size_t length;
};

int QuoteLength(std::size_t length) {
  return static_cast<int>(length < INT_MAX ? length : INT_MAX);
}

// Where the load stopped and why, for the caller: the line lets the operator
// find the record in a file of thousands.
std::size_t LineOf(const char* fileText, const char* at) {
  std::size_t line = 1;
  for (const char* p = fileText; p < at; ++p) line += *p == '\n';
  return line;
}

int Stop(const char* fileText, Token record, int result, const char* why, LoadReport& report) {
  const std::size_t line = LineOf(fileText, record.text);
  const std::size_t quoted = record.length < s3::kMaxRecordChars ? record.length : s3::kMaxRecordChars;
  report.result = result;
  report.line = line;
  report.record.assign(record.text, quoted);
  report.reason = why;
  return result;
}

// A record the loader cannot read ends the load.
int RejectRecord(const char* fileText, Token record, const char* why, LoadReport& report) {
  Stop(fileText, record, kLoadDataError, why, report);
  report.diagnostics.push_back(DiagnosticLine("error in S Record at line %zu (%s): %.*s\n", report.line, why,
                                               QuoteLength(report.record.size()), record.text));
  return kLoadDataError;
}

// "S", a type digit and a two-digit count: enough to tell a record from a word
// such as "S1" in a comment, for the counts a report gives.
bool LooksLikeRecord(Token t) {
  return t.length >= 4 && t.text[0] == s3::kTag0 && t.text[1] >= '0' && t.text[1] <= '9' &&
         (HexDigit(t.text[2]) | HexDigit(t.text[3])) >= 0;
}

// Parses one S3 record and stores its data bytes. Every field is checked
// against the token's length before it is read, so a short or garbled record
// reads nothing beyond its token.
int LoadRecord(const char* fileText, Token record, FlashImage& image, WrittenBytes& written, LoadReport& report) {
  const char* text = record.text;
  if (record.length < s3::kHeadChars) return RejectRecord(fileText, record, "too short", report);

  const int count = HexByte(text + s3::kCountAt);
  std::uint32_t address = 0;
  bool addressOk = true;
  for (std::size_t i = 0; i < 4; ++i) {
    const int b = HexByte(text + s3::kAddressAt + 2 * i);
    addressOk = addressOk && b >= 0;
    address = address << 8 | static_cast<std::uint32_t>(b & 0xFF);
  }
  if (count < 0 || !addressOk) return RejectRecord(fileText, record, "count or address not hex", report);
  if (static_cast<unsigned>(count) < s3::kCountOverhead) {
    return RejectRecord(fileText, record, "count below 5", report);
  }
  const std::size_t dataBytes = static_cast<unsigned>(count) - s3::kCountOverhead;
  const std::size_t checksumAt = s3::kDataAt + 2 * dataBytes;
  if (record.length < checksumAt + 2) return RejectRecord(fileText, record, "shorter than its count", report);

  unsigned sum = (address >> 24) + (address >> 16) + (address >> 8) + address + static_cast<unsigned>(count);
  const std::uint32_t first = address;
  const std::size_t inFlash = address >= kFlashSize ? 0 : std::min<std::size_t>(dataBytes, kFlashSize - address);
  // Bytes are compared with earlier ones only where an earlier record wrote.
  const bool overlaps = written.Any(first, inFlash);
  for (std::size_t i = 0; i < dataBytes; ++i) {
    const int b = HexByte(text + s3::kDataAt + 2 * i);
    if (b < 0) return RejectRecord(fileText, record, "data not hex", report);
    sum += static_cast<unsigned>(b);
    // Checked per byte, not per record: the bytes below the flash's end are
    // kept even when the record runs past it.
    if (address >= kFlashSize) {
      report.diagnostics.push_back(DiagnosticLine("error in S Record Address %8x\n", address));
      return Stop(fileText, record, kLoadDataError, "address beyond the flash", report);
    }
    if (overlaps && written.Test(address) && image[address] != b && report.stats.conflictingBytes++ == 0) {
      report.stats.firstConflict = address;
    }
    image[address++] = static_cast<std::uint8_t>(b);
  }

  const int checksum = HexByte(text + checksumAt);
  if (checksum < 0) return RejectRecord(fileText, record, "checksum not hex", report);
  sum &= 0xFF;
  if (static_cast<unsigned>(checksum) != (~sum & 0xFF)) {
    report.diagnostics.push_back(DiagnosticLine("error in S Record Check Sum %2x:%.*s\n", sum, QuoteLength(record.length), text));
    return Stop(fileText, record, kLoadChecksumError, "checksum does not match", report);
  }
  written.Mark(first, inFlash);
  report.stats.dataBytes += dataBytes;
  if (record.length > checksumAt + 2 && report.stats.gluedRecords++ == 0) {
    report.stats.firstGluedLine = LineOf(fileText, text);
  }
  return kLoadOk;
}

// Whole file into one buffer: sized from the file when it can be seeked, grown
// by doubling when it cannot (a pipe). Returns false on a read or memory failure.
class FileText {
 public:
  FileText() = default;
  FileText(const FileText&) = delete;
  FileText& operator=(const FileText&) = delete;
  ~FileText() { std::free(data_); }

  bool Read(std::FILE* file) {
    std::size_t capacity = input::kFirstReadSize;
    const long start = std::ftell(file);
    if (start >= 0 && std::fseek(file, 0, SEEK_END) == 0) {
      const long end = std::ftell(file);
      if (std::fseek(file, start, SEEK_SET) != 0) return false;
      // One byte over the size, so that the read which meets the end needs no growth.
      if (end >= start) capacity = static_cast<std::size_t>(end - start) + 1;
    }
    for (;;) {
      if (length_ == capacity_ && !Grow(capacity)) return false;
      length_ += std::fread(data_ + length_, 1, capacity_ - length_, file);
      if (length_ < capacity_) return !std::ferror(file);
      capacity = capacity_ * 2;
    }
  }

  const char* data() const { return data_; }
  std::size_t length() const { return length_; }

 private:
  bool Grow(std::size_t capacity) {
    if (capacity <= capacity_) return false;  // the doubling overflowed
    char* grown = static_cast<char*>(std::realloc(data_, capacity));
    if (!grown) return false;
    data_ = grown;
    capacity_ = capacity;
    return true;
  }

  char* data_ = nullptr;
  std::size_t length_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace

LoadReport LoadSRecordText(const char* text, std::size_t length, FlashImage& image) {
  LoadReport report;
  image.fill(kErasedByte);
  WrittenBytes written;
  const char* const end = text + length;
  const char* p = text;
  for (;;) {
    while (p != end && IsSpace(*p)) ++p;
    if (p == end) return report;
    const char* const start = p;
    while (p != end && !IsSpace(*p)) ++p;
    const Token token{start, static_cast<std::size_t>(p - start)};
    // Headers, other record types and any other text are passed over, counted
    // when they look like records.
    if (token.length < 2 || start[0] != s3::kTag0 || start[1] != s3::kTag1) {
      if (LooksLikeRecord(token)) ++report.stats.sRecords[static_cast<std::size_t>(start[1] - '0')];
      continue;
    }
    ++report.s3Records;
    ++report.stats.sRecords[3];
    if (LoadRecord(text, token, image, written, report) != kLoadOk) return report;
  }
}

LoadReport LoadSRecordImage(std::FILE* file, FlashImage& image) {
  FileText contents;
  if (!contents.Read(file)) {
    image.fill(kErasedByte);
    LoadReport report;
    report.diagnostics.push_back("error reading S Record file\n");
    report.result = kLoadDataError;
    report.reason = "the file cannot be read";
    return report;
  }
  return LoadSRecordText(contents.data(), contents.length(), image);
}

LoadReport LoadForProgramming(const char* text, std::size_t length, FlashImage& image) {
  LoadReport report = LoadSRecordText(text, length, image);
  if (report.result == kLoadOk && report.s3Records == 0) {
    report.result = kLoadDataError;
    report.reason = "the file holds no S3 record";
    report.diagnostics.push_back("error in S Record data: the file holds no S3 record\n");
  }
  return report;
}
