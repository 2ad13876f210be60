// Fills the flash image from an ELF file with what the program's sections hold:
// every section that is allocated and has contents goes to its load address
// (where a linker places what the flash holds; its address is where it runs).
// A segment's other bytes are not programmed: a linker's default layout puts
// the file and program headers, and padding between sections, in a loaded
// segment, and neither is firmware. The load address of a section is the one
// its segment gives it (the segment's physical address plus the section's
// offset into it), as the usual S-record converters take it. A file without
// section headers is loaded by its PT_LOAD segments' file bytes. The part of a
// segment beyond its file size is zeroed in RAM by the program's start-up code
// and is not flash content. Every offset and size read from the file is checked
// against the file's length, in 64 bits, before anything is read through it.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "common/diagnostic_line.h"
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
constexpr std::uint32_t kNoBits = 8;         // SHT_NOBITS: a section with no bytes in the file (.bss)
constexpr std::uint64_t kAllocated = 0x2;    // SHF_ALLOC: the section is in the program's memory

// Offsets in bytes of the fields read, for one class.
struct Layout {
  int bits;
  std::size_t headerBytes;  // the file header
  std::size_t phoffAt, phentsizeAt, phnumAt;
  std::size_t entryBytes;   // one program header entry
  std::size_t offsetAt, vaddrAt, paddrAt, fileszAt, memszAt;
  std::size_t wordBytes;    // of the address and size fields
  // The section header table and one of its entries.
  std::size_t shoffAt, shentsizeAt, shnumAt;
  std::size_t sectionBytes;
  std::size_t shTypeAt, shFlagsAt, shAddrAt, shOffsetAt, shSizeAt;
};
constexpr Layout k32{32, 52, 28, 42, 44, 32, 4, 8, 12, 16, 20, 4, 32, 46, 48, 40, 4, 8, 12, 16, 20};
constexpr Layout k64{64, 64, 32, 54, 56, 56, 8, 16, 24, 32, 40, 8, 40, 58, 60, 64, 4, 8, 16, 24, 32};
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
  std::size_t Length() const { return length_; }

 private:
  const unsigned char* bytes_;
  std::size_t length_;
  bool big_;
};

LoadReport Refuse(LoadReport report, const std::string& why, const std::string& what = "") {
  report.result = kLoadDataError;
  report.record = what;
  report.reason = why;
  report.diagnostics.push_back(DiagnosticLine("error in ELF file (%s)\n", why.c_str()));
  return report;
}

std::string SegmentName(const ElfSegment& s) {
  char text[96];
  std::snprintf(text, sizeof text, "segment %zu (physical 0x%08llX, %llu bytes)", s.index,
                static_cast<unsigned long long>(s.physical), static_cast<unsigned long long>(s.fileBytes));
  return text;
}

// A section with bytes to program: where they are in the file, where they run.
struct Section {
  std::size_t index = 0;
  std::uint64_t address = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// The sections that are allocated and have contents; false when the table
// lies beyond the file. An empty list for a file without section headers.
bool ContentSections(const ElfReader& file, const elf::Layout& layout, std::vector<Section>& sections) {
  const std::uint64_t tableAt = file.Field(layout.shoffAt, layout.wordBytes);
  const std::uint64_t entryBytes = file.Field(layout.shentsizeAt, 2);
  std::uint64_t entries = file.Field(layout.shnumAt, 2);
  if (tableAt == 0) return true;
  if (entryBytes < layout.sectionBytes || !file.Holds(tableAt, layout.sectionBytes)) return false;
  // SHN_UNDEF's count: more sections than 16 bits hold keep theirs in entry 0.
  if (entries == 0) entries = file.Field(static_cast<std::size_t>(tableAt) + layout.shSizeAt, layout.wordBytes);
  if (entries > file.Length() / entryBytes || !file.Holds(tableAt, entries * entryBytes)) return false;
  for (std::uint64_t i = 1; i < entries; ++i) {
    const auto at = static_cast<std::size_t>(tableAt + i * entryBytes);
    const auto type = static_cast<std::uint32_t>(file.Field(at + layout.shTypeAt, 4));
    const std::uint64_t flags = file.Field(at + layout.shFlagsAt, layout.wordBytes);
    Section s;
    s.index = static_cast<std::size_t>(i);
    s.address = file.Field(at + layout.shAddrAt, layout.wordBytes);
    s.offset = file.Field(at + layout.shOffsetAt, layout.wordBytes);
    s.size = file.Field(at + layout.shSizeAt, layout.wordBytes);
    if (type == elf::kNull || type == elf::kNoBits || (flags & elf::kAllocated) == 0 || s.size == 0) continue;
    sections.push_back(s);
  }
  return true;
}

// The segment whose file bytes hold the section, at the section's address.
const ElfSegment* SegmentOf(const std::vector<ElfSegment>& segments, const Section& s) {
  for (const ElfSegment& segment : segments) {
    if (segment.type != elf::kLoad) continue;
    const bool inFile = segment.offset <= s.offset && s.offset - segment.offset <= segment.fileBytes &&
                        s.size <= segment.fileBytes - (s.offset - segment.offset);
    const bool inMemory = segment.virtualAddress <= s.address && s.address - segment.virtualAddress < segment.memoryBytes;
    if (inFile && inMemory) return &segment;
  }
  return nullptr;
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

  std::vector<Section> sections;
  if (!ContentSections(file, layout, sections)) return Refuse(report, "section header table beyond the end of the file");
  const bool bySections = !sections.empty();

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
    if (bySections) continue;  // its sections are checked and written below
    if (s.physical >= kFlashSize || s.fileBytes > kFlashSize - s.physical) {
      report.diagnostics.push_back(
          DiagnosticLine("error in ELF Segment %zu Address %8llx\n", s.index, static_cast<unsigned long long>(s.physical)));
      report.result = kLoadDataError;
      report.record = name;
      report.reason = name + ": outside the flash";
      return report;
    }
    report.stats.segments.back().loaded = true;
    written.Store(image, static_cast<std::uint32_t>(s.physical), bytes + s.offset, static_cast<std::size_t>(s.fileBytes),
                  report.stats);
  }
  if (!bySections) return report;

  // A linker that sets no physical addresses leaves them all 0; the sections
  // then load where they run.
  const bool physicalUnset =
      std::all_of(report.stats.segments.begin(), report.stats.segments.end(),
                  [](const ElfSegment& s) { return s.type != elf::kLoad || s.physical == 0; }) &&
      std::any_of(report.stats.segments.begin(), report.stats.segments.end(),
                  [](const ElfSegment& s) { return s.type == elf::kLoad && s.virtualAddress != 0; });
  for (const Section& section : sections) {
    const ElfSegment* segment = SegmentOf(report.stats.segments, section);
    const std::uint64_t load = segment == nullptr || physicalUnset ? section.address
                                                                   : segment->physical + (section.offset - segment->offset);
    char name[96];
    std::snprintf(name, sizeof name, "section %zu (load address 0x%08llX, %llu bytes)", section.index,
                  static_cast<unsigned long long>(load), static_cast<unsigned long long>(section.size));
    if (!file.Holds(section.offset, section.size)) return Refuse(report, std::string(name) + ": bytes beyond the end of the file", name);
    if (load >= kFlashSize || section.size > kFlashSize - load) {
      report.diagnostics.push_back(
          DiagnosticLine("error in ELF Section %zu Address %8llx\n", section.index, static_cast<unsigned long long>(load)));
      report.result = kLoadDataError;
      report.record = name;
      report.reason = std::string(name) + ": outside the flash";
      return report;
    }
    if (segment != nullptr) report.stats.segments[static_cast<std::size_t>(segment - report.stats.segments.data())].loaded = true;
    written.Store(image, static_cast<std::uint32_t>(load), bytes + section.offset, static_cast<std::size_t>(section.size),
                  report.stats);
  }
  for (ElfSegment& s : report.stats.segments) {
    if (s.skipped.empty() && !s.loaded) s.skipped = "holds no section's contents (headers or padding only)";
  }
  return report;
}
