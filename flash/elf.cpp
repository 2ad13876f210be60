// Fills the flash image from an ELF file: the file bytes of every PT_LOAD
// segment go to its physical address (where a linker places what the flash
// holds; the virtual address is where it runs). The part of a segment beyond
// its file size is zeroed in RAM by the program's start-up code and is not
// flash content. Every offset and size read from the file is checked against
// the file's length, in 64 bits, before anything is read through it.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>

#include "common/log_line.h"
#include "flash/image_format.h"
#include "flash/written_bytes.h"

namespace {

namespace elf {
constexpr unsigned char kMagic[] = {0x7F, 'E', 'L', 'F'};
constexpr std::size_t kIdentBytes = 16;
constexpr std::size_t kClassAt = 4;
constexpr std::size_t kByteOrderAt = 5;
constexpr std::size_t kVersionAt = 6;
constexpr unsigned char kClass32 = 1;
constexpr unsigned char kClass64 = 2;
constexpr unsigned char kLittleEndian = 1;
constexpr unsigned char kBigEndian = 2;
constexpr unsigned char kCurrentVersion = 1;
constexpr std::uint16_t kExtendedCount = 0xFFFF;  // PN_XNUM: the real count is kept in a section header

constexpr std::uint32_t kNull = 0;
constexpr std::uint32_t kLoad = 1;

// Offsets in bytes of the fields read, for one class.
struct Layout {
  int bits;
  std::size_t headerBytes;  // the file header
  std::size_t phoffAt, phentsizeAt, phnumAt;
  std::size_t entryBytes;   // one program header entry
  std::size_t offsetAt, vaddrAt, paddrAt, fileszAt, memszAt;
  std::size_t wordBytes;    // of the address and size fields
};
constexpr Layout k32{32, 52, 28, 42, 44, 32, 4, 8, 12, 16, 20, 4};
constexpr Layout k64{64, 64, 32, 54, 56, 56, 8, 16, 24, 32, 40, 8};
}  // namespace elf

struct TypeName {
  std::uint32_t type;
  const char* name;
};
constexpr TypeName kTypeNames[] = {
    {0, "PT_NULL"},         {2, "PT_DYNAMIC"},      {3, "PT_INTERP"},       {4, "PT_NOTE"},
    {5, "PT_SHLIB"},        {6, "PT_PHDR"},         {7, "PT_TLS"},          {0x6474E550, "PT_GNU_EH_FRAME"},
    {0x6474E551, "PT_GNU_STACK"}, {0x6474E552, "PT_GNU_RELRO"}, {0x6474E553, "PT_GNU_PROPERTY"},
    {0x70000001, "PT_ARM_EXIDX"},
};

std::string SkipReason(std::uint32_t type) {
  if (type == elf::kNull) return "unused entry";
  for (const TypeName& t : kTypeNames) {
    if (t.type == type) return std::string("not loaded: ") + t.name;
  }
  char text[48];
  std::snprintf(text, sizeof text, "not loaded: type 0x%lX", static_cast<unsigned long>(type));
  return text;
}

class ElfReader {
 public:
  ElfReader(const unsigned char* bytes, std::size_t length, bool bigEndian)
      : bytes_(bytes), length_(length), big_(bigEndian) {}

  // The caller has checked that [at, at + size) lies in the file.
  std::uint64_t Field(std::size_t at, std::size_t size) const {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
      const std::size_t index = big_ ? at + i : at + size - 1 - i;
      value = value << 8 | bytes_[index];
    }
    return value;
  }

  // Whether [offset, offset + size) lies in the file, without overflow.
  bool Holds(std::uint64_t offset, std::uint64_t size) const { return offset <= length_ && size <= length_ - offset; }

 private:
  const unsigned char* bytes_;
  std::size_t length_;
  bool big_;
};

LoadReport Refuse(LoadReport report, const std::string& why, const std::string& what = "") {
  report.result = kLoadDataError;
  report.record = what;
  report.reason = why;
  LogLine("error in ELF file (%s)\n", why.c_str());
  return report;
}

std::string SegmentName(const ElfSegment& s) {
  char text[96];
  std::snprintf(text, sizeof text, "segment %zu (physical 0x%08llX, %llu bytes)", s.index,
                static_cast<unsigned long long>(s.physical), static_cast<unsigned long long>(s.fileBytes));
  return text;
}

}  // namespace

LoadReport LoadElfImage(const char* text, std::size_t length, FlashImage& image) {
  LoadReport report;
  report.format = ImageFormat::kElf;
  image.fill(kErasedByte);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  if (length < elf::kIdentBytes || !std::equal(std::begin(elf::kMagic), std::end(elf::kMagic), bytes)) {
    return Refuse(report, "not an ELF file");
  }
  const unsigned char elfClass = bytes[elf::kClassAt];
  const unsigned char byteOrder = bytes[elf::kByteOrderAt];
  if (elfClass != elf::kClass32 && elfClass != elf::kClass64) return Refuse(report, "unknown ELF class");
  if (byteOrder != elf::kLittleEndian && byteOrder != elf::kBigEndian) return Refuse(report, "unknown byte order");
  if (bytes[elf::kVersionAt] != elf::kCurrentVersion) return Refuse(report, "unknown ELF version");
  const elf::Layout& layout = elfClass == elf::kClass32 ? elf::k32 : elf::k64;
  report.stats.elfBits = layout.bits;
  report.stats.elfBigEndian = byteOrder == elf::kBigEndian;
  if (length < layout.headerBytes) return Refuse(report, "file header cut short");

  const ElfReader file(bytes, length, report.stats.elfBigEndian);
  const std::uint64_t tableAt = file.Field(layout.phoffAt, layout.wordBytes);
  const std::uint64_t entryBytes = file.Field(layout.phentsizeAt, 2);
  const std::uint64_t entries = file.Field(layout.phnumAt, 2);
  if (entries == elf::kExtendedCount) return Refuse(report, "more program headers than the file header can count");
  if (entries > 0 && entryBytes < layout.entryBytes) return Refuse(report, "program header entries too small");
  // At most 65534 entries of at most 65535 bytes: the product fits in 64 bits.
  if (!file.Holds(tableAt, entries * entryBytes)) return Refuse(report, "program header table beyond the end of the file");

  WrittenBytes written;
  for (std::uint64_t i = 0; i < entries; ++i) {
    const auto at = static_cast<std::size_t>(tableAt + i * entryBytes);
    ElfSegment s;
    s.index = static_cast<std::size_t>(i);
    s.type = static_cast<std::uint32_t>(file.Field(at, 4));
    s.offset = file.Field(at + layout.offsetAt, layout.wordBytes);
    s.virtualAddress = file.Field(at + layout.vaddrAt, layout.wordBytes);
    s.physical = file.Field(at + layout.paddrAt, layout.wordBytes);
    s.fileBytes = file.Field(at + layout.fileszAt, layout.wordBytes);
    s.memoryBytes = file.Field(at + layout.memszAt, layout.wordBytes);
    if (s.type != elf::kLoad) {
      s.skipped = SkipReason(s.type);
    } else if (s.fileBytes == 0) {
      s.skipped = "no bytes in the file: zeroed at run time, not flash content";
    }
    report.stats.segments.push_back(s);
    if (!s.skipped.empty()) continue;

    const std::string name = SegmentName(s);
    if (s.fileBytes > s.memoryBytes) return Refuse(report, name + ": more bytes in the file than in memory", name);
    if (!file.Holds(s.offset, s.fileBytes)) return Refuse(report, name + ": bytes beyond the end of the file", name);
    if (s.physical >= kFlashSize || s.fileBytes > kFlashSize - s.physical) {
      LogLine("error in ELF Segment %zu Address %8llx\n", s.index, static_cast<unsigned long long>(s.physical));
      report.result = kLoadDataError;
      report.record = name;
      report.reason = name + ": outside the flash";
      return report;
    }
    report.stats.segments.back().loaded = true;
    written.Store(image, static_cast<std::uint32_t>(s.physical), bytes + s.offset, static_cast<std::size_t>(s.fileBytes),
                  report.stats);
  }
  return report;
}
