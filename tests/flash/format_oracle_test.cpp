// Intel HEX, raw binary and ELF files made by independent tools must load into
// the same 128 KiB image as the S-records the same tools make of the same
// content: srec_cat converts an S19 to Intel HEX (linear and segmented) and to
// binary; an ELF built here with real compilers and linkers (64- and 32-bit,
// little- and big-endian, .data stored at a load address other than its run
// address; and the linkers' default layouts) is turned into S-records by objcopy.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "flash/image_format.h"
#include "tests/support/srecord_text.h"

namespace {

namespace fs = std::filesystem;

class FormatOracle : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "formats-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const char* name) const { return (dir_ / name).string(); }

  void Write(const char* name, const std::string& text) const { std::ofstream(dir_ / name, std::ios::binary) << text; }

  // Runs a shell command in the test's folder; false (with its output) when it fails.
  testing::AssertionResult Run(const std::string& command) const {
    const std::string log = Path("tool.log");
    const std::string line = "cd '" + dir_.string() + "' && " + command + " >'" + log + "' 2>&1";
    if (std::system(line.c_str()) == 0) return testing::AssertionSuccess();
    std::ifstream in(log);
    return testing::AssertionFailure() << command << "\n" << std::string(std::istreambuf_iterator<char>(in), {});
  }

  LoadReport Load(const char* name, FlashImage& image, ImageFormat format = ImageFormat::kAuto,
                  std::uint32_t base = 0) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    return LoadImage(bytes.data(), bytes.size(), format, base, image);
  }

  fs::path dir_;
};

// Sparse S3 records over the whole flash, their last byte at 0x1FFFF.
std::string SparseS19() {
  std::mt19937 random(20240917);
  auto draw = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  std::string text;
  for (std::uint32_t address = 0; address < kFlashSize;) {
    Bytes data(std::min<std::uint32_t>(static_cast<std::uint32_t>(draw(1, 64)), kFlashSize - address));
    for (auto& b : data) b = static_cast<std::uint8_t>(draw(0, 255));
    text += S3(address, data) + "\n";
    address += static_cast<std::uint32_t>(data.size());
    if (address < kFlashSize - 0x400) address += static_cast<std::uint32_t>(draw(0, 2000));
  }
  return text;
}

TEST_F(FormatOracle, IntelHexAndBinaryFromSrecCatGiveTheS19sImage) {
  Write("image.s19", SparseS19());
  auto expected = std::make_unique<FlashImage>();
  ASSERT_EQ(Load("image.s19", *expected).result, kLoadOk);
  const std::string srecCat = std::string("'") + TOVRIN_SREC_CAT + "' image.s19 ";

  auto image = std::make_unique<FlashImage>();
  struct Hex {
    const char* name;
    const char* options;
    std::size_t addressType;  // the extended address record srec_cat writes: 2 segment, 4 linear
  } hexes[] = {{"linear", "-intel", 4}, {"segmented", "-intel --address-length=3", 2}};
  for (const Hex& h : hexes) {
    SCOPED_TRACE(h.name);
    ASSERT_TRUE(Run(srecCat + "-o image.hex " + h.options));
    const LoadReport r = Load("image.hex", *image);
    ASSERT_EQ(r.result, kLoadOk) << r.reason << ": " << r.record;
    EXPECT_EQ(r.format, ImageFormat::kIntelHex);
    EXPECT_GT(r.stats.hexRecords[h.addressType], 1u) << "the file crosses 64 KiB boundaries";
    EXPECT_TRUE(r.stats.hexEndRecord);
    EXPECT_EQ(FirstDifference(*image, *expected), -1);
  }

  ASSERT_TRUE(Run(srecCat + "-fill 0xFF 0 0x20000 -o image.bin -binary"));
  ASSERT_EQ(Load("image.bin", *image, ImageFormat::kBinary).result, kLoadOk);
  EXPECT_EQ(FirstDifference(*image, *expected), -1);

  // The upper half alone, moved down to 0 in the file and put back by --base.
  ASSERT_TRUE(Run(srecCat + "-crop 0x10000 0x20000 -offset -0x10000 -fill 0xFF 0 0x10000 -o high.bin -binary"));
  ASSERT_EQ(Load("high.bin", *image, ImageFormat::kBinary, 0x10000).result, kLoadOk);
  std::fill(expected->begin(), expected->begin() + 0x10000, kErasedByte);
  EXPECT_EQ(FirstDifference(*image, *expected), -1);
}

// Firmware as a linker lays it out: code and constants in the flash; .data run
// from RAM at 0x80000000 but stored in the flash after the code; .bss only in RAM.
constexpr const char kFirmware[] = R"(
const unsigned char table[300] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
unsigned char counter[64] = {0xAA, 0xBB, 0xCC};
unsigned char zeroed[128];
void entry(void) { counter[0]++; zeroed[1] = table[3]; }
)";
constexpr const char kLinkerScript[] = R"(
ENTRY(entry)
MEMORY {
  FLASH (rx) : ORIGIN = 0x00000, LENGTH = 0x20000
  RAM (rwx) : ORIGIN = 0x80000000, LENGTH = 0x1000
}
SECTIONS {
  .text 0x400 : { *(.text*) *(.rodata*) *(.srodata*) } > FLASH
  .data : { *(.data*) *(.sdata*) } > RAM AT > FLASH
  .bss (NOLOAD) : { *(.bss*) *(.sbss*) *(COMMON) } > RAM
  /DISCARD/ : { *(.comment) *(.note*) *(.eh_frame*) }
}
)";

TEST_F(FormatOracle, ElfFromRealToolchainsGivesObjcopysImage) {
  Write("fw.c", kFirmware);
  Write("fw.ld", kLinkerScript);
  const std::string cflags = " -c -O1 -ffreestanding -fno-pic -fno-stack-protector -fno-asynchronous-unwind-tables";
  const std::string ld = " -nostdlib -static -T fw.ld -z max-page-size=0x10";
  const std::string gcc = TOVRIN_GCC, clang = TOVRIN_CLANG, objcopy = TOVRIN_OBJCOPY;
  // The linkers' own layouts, without the script: the file and program headers
  // in a loaded segment of their own (GNU ld at 0x0, lld beyond the flash), or
  // with the code and its padding in one (-z noseparate-code).
  const std::string compiled = gcc + cflags + " fw.c -o fw.o && ";
  const std::string own = " -nostdlib -static -no-pie -z noexecstack -e entry -Ttext=0x1000 fw.o -o fw.elf";
  struct Build {
    const char* name;
    std::string commands;
    int bits;
    bool big;
    bool scripted = true;  // .data run from 0x80000000, stored in the flash
  } builds[] = {
      {"gcc and ld, 64-bit little-endian",
       gcc + cflags + " fw.c -o fw.o && " + TOVRIN_LD + ld + " -no-pie -z noexecstack fw.o -o fw.elf", 64, false},
      {"the same as 32-bit", objcopy + " -O elf32-little fw.elf fw32.elf && mv fw32.elf fw.elf", 32, false},
      {"clang and lld for powerpc, 32-bit big-endian",
       clang + " --target=powerpc-unknown-none-elf" + cflags + " fw.c -o fw.o && " + TOVRIN_LLD + ld +
           " fw.o -o fw.elf",
       32, true},
      {"clang and lld for aarch64_be, 64-bit big-endian",
       clang + " --target=aarch64_be-unknown-none-elf" + cflags + " fw.c -o fw.o && " + TOVRIN_LLD + ld +
           " fw.o -o fw.elf",
       64, true},
      {"GNU ld's default layout", compiled + TOVRIN_LD + own, 64, false, false},
      {"GNU ld's default layout without separate code", compiled + TOVRIN_LD + own + " -z noseparate-code", 64, false,
       false},
      {"lld's default layout", compiled + TOVRIN_LLD + own, 64, false, false},
  };
  auto fromElf = std::make_unique<FlashImage>();
  auto fromSrec = std::make_unique<FlashImage>();
  for (const Build& b : builds) {
    SCOPED_TRACE(b.name);
    ASSERT_TRUE(Run(b.commands));
    ASSERT_TRUE(Run(objcopy + " -O srec --srec-forceS3 fw.elf fw.s19"));
    const LoadReport r = Load("fw.elf", *fromElf);
    ASSERT_EQ(r.result, kLoadOk) << r.reason;
    EXPECT_EQ(r.format, ImageFormat::kElf);
    EXPECT_EQ(r.stats.elfBits, b.bits);
    EXPECT_EQ(r.stats.elfBigEndian, b.big);
    ASSERT_EQ(Load("fw.s19", *fromSrec).result, kLoadOk);
    EXPECT_EQ(FirstDifference(*fromElf, *fromSrec), -1);
    if (!b.scripted) continue;

    // .data's initial bytes are in the flash at its load address, not at the
    // RAM address it runs from.
    const auto data = std::find_if(r.stats.segments.begin(), r.stats.segments.end(),
                                   [](const ElfSegment& s) { return s.loaded && s.virtualAddress == 0x80000000u; });
    ASSERT_NE(data, r.stats.segments.end());
    ASSERT_LT(data->physical, kFlashSize);
    EXPECT_EQ((*fromElf)[data->physical], 0xAA);
    EXPECT_EQ((*fromElf)[data->physical + 2], 0xCC);
  }
}

}  // namespace
