// The Intel HEX, ELF and raw binary loaders and LoadImage's choice between them,
// against files built here: where bytes land, what each refusal says, and that
// a malformed header or segment is refused without reading outside the file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "flash/image_format.h"
#include "tests/support/image_files.h"
#include "tests/support/log_text.h"

namespace {

using testing::HasSubstr;
using Stored = std::map<std::uint32_t, std::uint8_t>;

// Where the image differs from erased flash.
Stored NonBlank(const FlashImage& image) {
  Stored bytes;
  for (std::uint32_t a = 0; a < kFlashSize; ++a) {
    if (image[a] != kErasedByte) bytes[a] = image[a];
  }
  return bytes;
}

TEST(IntelHexLoad, RecordsAddressesAndRefusals) {
  const std::string data = HexData(0x0010, {0x11, 0x22});
  const std::string badChecksum = data.substr(0, data.size() - 2) + "00";
  struct Case {
    const char* name;
    std::string text;
    int result;
    Stored stored;             // when the load succeeds
    std::size_t line = 0;      // of the failing record
    std::string record;        // quoted
    std::string log;           // part of the log line
  } cases[] = {
      {"data and end", HexData(0x0100, {1, 2}) + "\n" + HexData(0x0000, {3}) + "\n" + HexEnd() + "\n", kLoadOk,
       {{0x100, 1}, {0x101, 2}, {0, 3}}, 0, "", ""},
      {"extended linear address", HexBase(4, 0x0001) + "\r\n" + data + "\r\n" + HexEnd(), kLoadOk,
       {{0x10010, 0x11}, {0x10011, 0x22}}, 0, "", ""},
      {"extended segment address", HexBase(2, 0x1000) + "\n" + data + "\n" + HexEnd(), kLoadOk,
       {{0x10010, 0x11}, {0x10011, 0x22}}, 0, "", ""},
      // A segment's offset wraps within its 64 KiB; a linear address runs on.
      {"segment offset wraps", HexBase(2, 0x1000) + "\n" + HexData(0xFFFF, {7, 8}) + "\n" + HexEnd(), kLoadOk,
       {{0x1FFFF, 7}, {0x10000, 8}}, 0, "", ""},
      {"linear address runs on", HexData(0xFFFF, {7, 8}) + "\n" + HexEnd(), kLoadOk, {{0xFFFF, 7}, {0x10000, 8}}, 0, "", ""},
      {"linear base after a segment base", HexBase(2, 0x1000) + "\n" + HexBase(4, 0) + "\n" + data + "\n" + HexEnd(),
       kLoadOk, {{0x10, 0x11}, {0x11, 0x22}}, 0, "", ""},
      {"start records read and ignored",
       HexRecord(3, 0, {0, 0, 0x12, 0x34}) + "\n" + HexRecord(5, 0, {0, 1, 0, 0}) + "\n" + data + "\n" + HexEnd(),
       kLoadOk, {{0x10, 0x11}, {0x11, 0x22}}, 0, "", ""},
      {"lower-case hex", LowerHex(data) + "\n" + HexEnd(), kLoadOk, {{0x10, 0x11}, {0x11, 0x22}}, 0, "", ""},
      {"text after the end is not read", data + "\n" + HexEnd() + "\nnot a record " + HexData(0, {9}), kLoadOk,
       {{0x10, 0x11}, {0x11, 0x22}}, 0, "", ""},
      {"checksum", data + "\n" + badChecksum + "\n" + HexEnd(), kLoadChecksumError, {}, 2, badChecksum, "Check Sum"},
      {"beyond the flash", HexBase(4, 0x0002) + "\n" + data, kLoadDataError, {}, 2, data, "Address    20010"},
      {"runs past the flash's end", HexBase(4, 0x0001) + "\n" + HexData(0xFFFE, {1, 2, 3}), kLoadDataError, {}, 2,
       HexData(0xFFFE, {1, 2, 3}), "Address    20000"},
      {"segment base far out", HexBase(2, 0xF000) + "\n" + data, kLoadDataError, {}, 2, data, "Address"},
      {"not a record", data + "\nS1130000\n", kLoadDataError, {}, 2, "S1130000", "not an Intel HEX record"},
      {"too short", ":000000", kLoadDataError, {}, 1, ":000000", "too short"},
      {"shorter than its count", data.substr(0, data.size() - 2), kLoadDataError, {}, 1,
       data.substr(0, data.size() - 2), "shorter than its count"},
      {"longer than its count", data + "00", kLoadDataError, {}, 1, data + "00", "longer than its count"},
      {"not hex", ":0100000G00FF", kLoadDataError, {}, 1, ":0100000G00FF", "not hex"},
      {"unknown type", HexRecord(6, 0, {}), kLoadDataError, {}, 1, HexRecord(6, 0, {}), "unknown record type"},
      {"end record with data", HexRecord(1, 0, {1}), kLoadDataError, {}, 1, HexRecord(1, 0, {1}), "with data"},
      {"address record of one byte", HexRecord(4, 0, {1}), kLoadDataError, {}, 1, HexRecord(4, 0, {1}),
       "without 2 data bytes"},
      {"start record of two bytes", HexRecord(5, 0, {1, 2}), kLoadDataError, {}, 1, HexRecord(5, 0, {1, 2}),
       "without 4 data bytes"},
  };
  auto image = std::make_unique<FlashImage>();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    image->fill(0);
    const LoadReport r = LoadIntelHexText(c.text.data(), c.text.size(), *image);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.format, ImageFormat::kIntelHex);
    if (c.result == kLoadOk) {
      EXPECT_EQ(NonBlank(*image), c.stored);
      EXPECT_EQ(Lines(r), "");
      EXPECT_TRUE(r.stats.hexEndRecord);
    } else {
      EXPECT_EQ(r.line, c.line);
      EXPECT_EQ(r.record, c.record);
      EXPECT_THAT(Lines(r), HasSubstr(c.log));
    }
  }
}

TEST(IntelHexLoad, ReportsWhatItRead) {
  const std::string text = HexBase(4, 0) + "\n" + HexData(0x10, {1, 2}) + "\n" + HexData(0x11, {9}) + "\n" +
                           HexRecord(5, 0, {0, 0, 0, 0}) + "\n" + HexEnd() + "\n\n  trailing words\n";
  auto image = std::make_unique<FlashImage>();
  const LoadReport r = LoadIntelHexText(text.data(), text.size(), *image);
  ASSERT_EQ(r.result, kLoadOk);
  EXPECT_EQ(r.stats.hexRecords, (std::array<std::size_t, 6>{2, 1, 0, 0, 1, 1}));
  EXPECT_EQ(r.stats.textAfterEndLine, 7u);
  EXPECT_EQ(r.stats.dataBytes, 3u);
  EXPECT_EQ(r.stats.conflictingBytes, 1u);
  EXPECT_EQ(r.stats.firstConflict, 0x11u);
}

struct ElfKind {
  int bits;
  bool big;
};
constexpr ElfKind kElfKinds[] = {{32, false}, {32, true}, {64, false}, {64, true}};

// Segments are loaded at their physical address with their file size; every
// other entry is passed over with its reason, in each class and byte order.
TEST(ElfLoad, LoadsFileBytesAtPhysicalAddresses) {
  const std::vector<ElfEntry> entries = {
      {1, 0x400, 0x400, {1, 2, 3, 4}, 0, 0, 0},
      {4, 0, 0, {9, 9}, 0, 0, 0},                               // PT_NOTE
      {1, 0x54C, 0x80000000, {0xAA, 0xBB}, 0x80, 0, 0},        // .data with .bss: 0x7E bytes zeroed at run time
      {1, 0x80000100, 0x80000100, {}, 0x40, 0, 0},             // .bss alone: nothing in the file
      {0x6474E551, 0, 0, {}, 0, 0, 0},                         // PT_GNU_STACK
      {1, 0x1FFFF, 0x1FFFF, {0x5A}, 0, 0, 0},                  // the flash's last byte
  };
  for (const ElfKind kind : kElfKinds) {
    SCOPED_TRACE(testing::Message() << kind.bits << (kind.big ? " big" : " little"));
    const std::string file = ElfFile(entries, kind.bits, kind.big);
    auto image = std::make_unique<FlashImage>();
    const LoadReport r = LoadElfImage(file.data(), file.size(), *image);
    ASSERT_EQ(r.result, kLoadOk) << r.reason;
    EXPECT_EQ(NonBlank(*image), (Stored{{0x400, 1}, {0x401, 2}, {0x402, 3}, {0x403, 4}, {0x54C, 0xAA}, {0x54D, 0xBB},
                                        {0x1FFFF, 0x5A}}));
    EXPECT_EQ(r.stats.elfBits, kind.bits);
    EXPECT_EQ(r.stats.elfBigEndian, kind.big);
    ASSERT_EQ(r.stats.segments.size(), entries.size());
    const std::vector<bool> loaded = {true, false, true, false, false, true};
    for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(r.stats.segments[i].loaded, loaded[i]) << i;
    EXPECT_EQ(r.stats.segments[1].skipped, "not loaded: PT_NOTE");
    EXPECT_THAT(r.stats.segments[3].skipped, HasSubstr("no bytes in the file"));
    EXPECT_EQ(r.stats.segments[2].memoryBytes, 0x80u);
    EXPECT_EQ(r.stats.segments[2].virtualAddress, 0x80000000u);
    EXPECT_EQ(Lines(r), "");
  }
}

TEST(ElfLoad, RefusesMalformedHeadersAndSegments) {
  const ElfEntry good{1, 0x100, 0x100, {1, 2, 3, 4}, 0, 0, 0};
  auto with = [](ElfEntry e, auto change) {
    change(e);
    return e;
  };
  struct Case {
    const char* name;
    std::vector<ElfEntry> entries;
    std::size_t cutTo = 0;                  // 0: the whole file
    std::size_t patchAt = 0;                // 0: none; otherwise one byte of the file set to patch
    char patch = 0;
    std::string reason;
  };
  for (const ElfKind kind : kElfKinds) {
    SCOPED_TRACE(testing::Message() << kind.bits << (kind.big ? " big" : " little"));
    const std::size_t header = kind.bits == 64 ? 64 : 52;
    const std::uint64_t far = kind.bits == 64 ? 0xFFFFFFFFFFFFFFF0u : 0xFFFFFFF0u;
    const std::size_t phentsizeLow = kind.bits == 64 ? (kind.big ? 55 : 54) : (kind.big ? 43 : 42);
    const std::size_t phnumLow = kind.bits == 64 ? (kind.big ? 57 : 56) : (kind.big ? 45 : 44);
    const std::size_t phnumHigh = kind.bits == 64 ? (kind.big ? 56 : 57) : (kind.big ? 44 : 45);
    const Case cases[] = {
        {"not ELF", {good}, 0, 1, 'X', "not an ELF file"},
        {"unknown class", {good}, 0, 4, 3, "unknown ELF class"},
        {"unknown byte order", {good}, 0, 5, 0, "unknown byte order"},
        {"unknown version", {good}, 0, 6, 2, "unknown ELF version"},
        {"header cut short", {good}, header - 1, 0, 0, "file header cut short"},
        {"table beyond the file", {good}, header + 8, 0, 0, "program header table beyond the end of the file"},
        {"entries too small", {good}, 0, phentsizeLow, 8, "program header entries too small"},
        {"count past the table", {good}, 0, phnumLow, 40, "program header table beyond the end of the file"},
        {"extended count", {good}, 0, phnumLow, static_cast<char>(0xFF), "more program headers than"},
        {"bytes beyond the file", {with(good, [](ElfEntry& e) { e.fileBytesOverride = e.memoryBytes = 5000; })}, 0, 0, 0,
         "segment 0 (physical 0x00000100, 5000 bytes): bytes beyond the end of the file"},
        // An offset and a size whose sum wraps must not pass for a short segment.
        {"size near the top", {with(good, [&](ElfEntry& e) { e.fileBytesOverride = e.memoryBytes = far; })}, 0, 0, 0,
         "bytes beyond the end of the file"},
        {"offset near the top", {with(good, [&](ElfEntry& e) { e.offsetOverride = far; })}, 0, 0, 0,
         "segment 0 (physical 0x00000100, 4 bytes): bytes beyond the end of the file"},
        {"more in the file than in memory", {with(good, [](ElfEntry& e) { e.memoryBytes = 2; })}, 0, 0, 0,
         "segment 0 (physical 0x00000100, 4 bytes): more bytes in the file than in memory"},
        {"past the flash's end", {good, with(good, [](ElfEntry& e) { e.physical = 0x1FFFE; })}, 0, 0, 0,
         "segment 1 (physical 0x0001FFFE, 4 bytes): outside the flash"},
        {"physical address near the top", {with(good, [&](ElfEntry& e) { e.physical = far; })}, 0, 0, 0,
         "outside the flash"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      std::string file = ElfFile(c.entries, kind.bits, kind.big);
      if (c.cutTo != 0) file.resize(c.cutTo);
      if (c.patchAt != 0) {
        file[c.patchAt] = c.patch;
        if (c.patch == static_cast<char>(0xFF)) file[phnumHigh] = c.patch;  // 0xFFFF
      }
      auto image = std::make_unique<FlashImage>();
      const LoadReport r = LoadElfImage(file.data(), file.size(), *image);
      EXPECT_EQ(r.result, kLoadDataError);
      EXPECT_THAT(r.reason, HasSubstr(c.reason));
      EXPECT_THAT(Lines(r), HasSubstr("error in ELF"));
    }
  }
}

// What LoadImage reads a file as, and the files it refuses whole.
TEST(LoadImage, ChoosesTheLoaderAndRefusesFilesWithoutData) {
  const std::string elf = ElfFile({{1, 0x10, 0x10, {0x42}, 0, 0, 0}}, 32, false);
  const std::string noteOnly = ElfFile({{4, 0, 0, {1}, 0, 0, 0}}, 64, true);
  const std::string hex = HexData(0x10, {0x42}) + "\n" + HexEnd() + "\n";
  const std::string srec = S3(0x10, {0x42}) + "\n";
  struct Case {
    const char* name;
    std::string bytes;
    ImageFormat asked;
    std::uint32_t base;
    int result;
    ImageFormat read;
    std::string reason;  // of a refusal
    Stored stored;       // when loaded
  } cases[] = {
      {"ELF by its magic", elf, ImageFormat::kAuto, 0, kLoadOk, ImageFormat::kElf, "", {{0x10, 0x42}}},
      {"Intel HEX after blank lines", "\r\n\n  " + hex, ImageFormat::kAuto, 0, kLoadOk, ImageFormat::kIntelHex, "",
       {{0x10, 0x42}}},
      {"S-records after a comment", "words first\n" + srec, ImageFormat::kAuto, 0, kLoadOk, ImageFormat::kSRecord,
       "", {{0x10, 0x42}}},
      {"S-records without S3", SRecord('1', 0x10, {1}), ImageFormat::kAuto, 0, kLoadDataError,
       ImageFormat::kSRecord, "no S3 record", {}},
      {"plain text", "neither: 42\n", ImageFormat::kAuto, 0, kLoadDataError, ImageFormat::kAuto,
       "neither S-records, Intel HEX nor ELF", {}},
      {"empty", "", ImageFormat::kAuto, 0, kLoadDataError, ImageFormat::kAuto, "empty", {}},
      {"Intel HEX without data", HexEnd(), ImageFormat::kAuto, 0, kLoadDataError, ImageFormat::kIntelHex,
       "no data record", {}},
      {"ELF without loadable bytes", noteOnly, ImageFormat::kAuto, 0, kLoadDataError, ImageFormat::kElf,
       "no loadable segment", {}},
      {"S-records read as asked", srec, ImageFormat::kIntelHex, 0, kLoadDataError, ImageFormat::kIntelHex,
       "not an Intel HEX record", {}},
      {"binary at its base", "\x01\x02", ImageFormat::kBinary, 0x1FFFE, kLoadOk, ImageFormat::kBinary, "",
       {{0x1FFFE, 1}, {0x1FFFF, 2}}},
      {"binary of text", srec.substr(0, 2), ImageFormat::kBinary, 0, kLoadOk, ImageFormat::kBinary, "",
       {{0, 'S'}, {1, '3'}}},
      {"binary past the end", "\x01\x02\x03", ImageFormat::kBinary, 0x1FFFE, kLoadDataError, ImageFormat::kBinary,
       "3 bytes from 0x1FFFE run past the flash's end", {}},
      {"binary longer than the flash", std::string(kFlashSize + 1, '\x01'), ImageFormat::kBinary, 0, kLoadDataError,
       ImageFormat::kBinary, "run past the flash's end", {}},
      {"empty binary", "", ImageFormat::kBinary, 0, kLoadDataError, ImageFormat::kBinary, "empty", {}},
  };
  auto image = std::make_unique<FlashImage>();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    image->fill(0);
    const LoadReport r = LoadImage(c.bytes.data(), c.bytes.size(), c.asked, c.base, *image);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.format, c.read);
    if (c.result == kLoadOk) {
      EXPECT_EQ(NonBlank(*image), c.stored);
    } else {
      EXPECT_THAT(r.reason, HasSubstr(c.reason));
      EXPECT_NE(Lines(r), "") << "every refusal is logged";
    }
  }
}

}  // namespace
