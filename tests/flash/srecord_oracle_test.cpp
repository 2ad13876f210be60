// Whole generated files read by the loader and by srec_cat, an independent
// S-record reader, must give the same 128 KiB image byte for byte. srec_cat sees
// only the S3 lines, since it would also take data from S1 and S2 records.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "flash/flash_image.h"
#include "tests/support/srecord_text.h"

namespace {

namespace fs = std::filesystem;

struct Case {
  const char* name;
  std::uint32_t first, last;  // data bytes go into [first, last)
  bool sparse;                // runs with gaps, otherwise every byte
  int maxRecordData;          // bytes; records hold 1..max, or exactly max when not sparse
  bool shuffle, otherTypes, lowerCase;
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// Non-overlapping (the oracle refuses two values at one address) data cut into records.
std::vector<std::string> MakeRecords(const Case& c, std::mt19937& random) {
  std::vector<std::string> records;
  auto draw = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  std::uint32_t address = c.first;
  while (address < c.last) {
    if (c.sparse) address += static_cast<std::uint32_t>(draw(0, 3000));
    const auto runLength = static_cast<std::uint32_t>(c.sparse ? draw(1, 700) : 0x20000);
    const std::uint32_t runEnd = std::min(c.last, address + runLength);
    while (address < runEnd) {
      const int size = c.sparse ? draw(1, c.maxRecordData) : c.maxRecordData;
      Bytes data(std::min<std::uint32_t>(static_cast<std::uint32_t>(size), runEnd - address));
      for (auto& b : data) b = static_cast<std::uint8_t>(draw(0, 255));
      records.push_back(S3(address, data));
      address += static_cast<std::uint32_t>(data.size());
    }
  }
  if (c.shuffle) std::shuffle(records.begin(), records.end(), random);
  auto lower = [](char ch) { return static_cast<char>(std::tolower(ch)); };
  if (c.lowerCase) {
    for (auto& r : records) std::transform(r.begin() + 1, r.end(), r.begin() + 1, lower);
  }
  return records;
}

class SRecordOracle : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "srecord-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Write(const char* name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return dir_ / name;
  }

  std::unique_ptr<FlashImage> Oracle(const fs::path& s3Only) {
    const fs::path out = dir_ / "oracle.bin";
    const std::string command = std::string("'") + TOVRIN_SREC_CAT + "' '" + s3Only.string() +
                                "' -fill 0xFF 0 0x20000 -o '" + out.string() + "' -binary 2>'" +
                                (dir_ / "oracle.log").string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(out, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    auto image = std::make_unique<FlashImage>();
    EXPECT_EQ(bytes.size(), image->size());
    std::copy_n(bytes.begin(), std::min(bytes.size(), image->size()), image->begin());
    return image;
  }

  fs::path dir_;
};

TEST_P(SRecordOracle, SameImageAsSrecCat) {
  const Case& c = GetParam();
  std::mt19937 random(20240601);
  const std::vector<std::string> records = MakeRecords(c, random);
  std::string s3Only, full = c.otherTypes ? SRecord('0', 0, {'t', 'o', 'v'}) + "\n" : "";
  for (std::size_t i = 0; i < records.size(); ++i) {
    s3Only += records[i] + "\n";
    full += records[i] + "\n";
    const auto address = static_cast<std::uint32_t>(i);  // where S3 data may be absent
    if (c.otherTypes && i % 7 == 0) full += SRecord(i % 2 ? '1' : '2', address, {0x5A, 0xA5}) + "\n";
  }
  if (c.otherTypes) {
    full += SRecord('5', static_cast<std::uint32_t>(records.size()), {}) + "\n" + SRecord('7', 0, {}) + "\n";
  }

  const auto expected = Oracle(Write("s3only.srec", s3Only));
  const fs::path path = Write("input.srec", full);
  auto image = std::make_unique<FlashImage>();
  std::FILE* file = std::fopen(path.c_str(), "r");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(LoadSRecordImage(file, *image).result, kLoadOk);
  std::fclose(file);
  EXPECT_EQ(FirstDifference(*image, *expected), -1);

  // A pipe cannot be measured beforehand, so its text is read in growing pieces.
  std::FILE* pipe = ::popen(("cat '" + path.string() + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  image->fill(0);
  EXPECT_EQ(LoadSRecordImage(pipe, *image).result, kLoadOk);
  ::pclose(pipe);
  EXPECT_EQ(FirstDifference(*image, *expected), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SRecordOracle,
    testing::Values(Case{"sparse", 0, 0x20000, true, 250, false, false, false},
                    Case{"full", 0, 0x20000, false, 32, false, false, false},
                    Case{"at_the_end", 0x1FC00, 0x20000, false, 24, false, false, false},
                    Case{"shuffled", 0, 0x20000, true, 64, true, false, false},
                    Case{"other_types", 0, 0x20000, true, 40, false, true, false},
                    Case{"lower_case", 0, 0x20000, true, 250, true, false, true}),
    [](const testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
