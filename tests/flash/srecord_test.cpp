// The S-record loader against hand-built record text: which tokens count, where
// bytes land, and how a bad record ends the load and what it logs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "flash/flash_image.h"
#include "tests/support/log_text.h"
#include "tests/support/srecord_text.h"

namespace {

using testing::AllOf;
using testing::Eq;
using testing::HasSubstr;
using Stored = std::vector<std::pair<std::uint32_t, std::uint8_t>>;

class SRecordLoad : public testing::Test {
 protected:
  void SetUp() override { Reset(); }

  // A fresh report, and a left-over image that every load must wipe.
  void Reset() {
    report_ = {};
    image_->fill(0x00);
  }

  int Load(const std::string& text) {
    report_ = LoadSRecordText(text.data(), text.size(), *image_);
    return report_.result;
  }
  LoadReport report_;

  std::string Log() { return Lines(report_); }

  // Erased everywhere except at the given bytes.
  static std::unique_ptr<FlashImage> Expected(const Stored& stored) {
    auto image = std::make_unique<FlashImage>();
    image->fill(kErasedByte);
    for (auto [address, value] : stored) (*image)[address] = value;
    return image;
  }

  std::unique_ptr<FlashImage> image_ = std::make_unique<FlashImage>();
};

TEST_F(SRecordLoad, TakesDataFromS3RecordsOnly) {
  const std::string text =
      SRecord('0', 0, {'h', 'd', 'r'}) + "\r\n" +
      SRecord('1', 0x0100, {0x11, 0x11}) + "\r\n" + SRecord('2', 0x000200, {0x22}) + "\r\n" +
      S3(0x100, {0xAA, 0xBB}) + std::string(3000, 'x') + "\r\n\r\n" +  // trailing text of any length
      "\t  a comment, S5 S7 and S1 words  \n" +
      S3(0x1FFFF, {0x5A}) + "\r" + LowerHex(S3(0x10000, {0xAB, 0xCD})) + "\n" +
      S3(0x100, {0xCC}) + "\n" +  // a later record wins
      SRecord('5', 4, {}) + "\n" + SRecord('7', 0, {});

  EXPECT_EQ(Load(text), kLoadOk);
  EXPECT_TRUE(*image_ ==
              *Expected({{0x100, 0xCC}, {0x101, 0xBB}, {0x10000, 0xAB}, {0x10001, 0xCD}, {0x1FFFF, 0x5A}}));
  EXPECT_EQ(Log(), "");
}

TEST_F(SRecordLoad, EmptyOrBlankTextGivesErasedImage) {
  for (const std::string text : {"", " \t\r\n\n\v\f "}) {
    Reset();
    EXPECT_EQ(Load(text), kLoadOk);
    EXPECT_TRUE(*image_ == *Expected({}));
  }
}

TEST_F(SRecordLoad, FirstBadRecordEndsTheLoad) {
  struct Case {
    std::string name;
    std::string text;
    int result;
    testing::Matcher<const std::string&> log;
    Stored stored;
    std::size_t line = 0;  // where the report says the load stopped, when checked
  };
  // A bad record on line 2 between good ones: what came before stays, nothing after is read.
  auto malformed = [](std::string why, std::string record) {
    return Case{why, S3(0x10, {0x42}) + "\n" + record + "\n" + S3(0x20, {0x43}), kLoadDataError,
                AllOf(HasSubstr("line 2"), HasSubstr(": " + record + "\n")), {{0x10, 0x42}}, 2};
  };
  const std::string full = S3(0x100, {1, 2, 3});
  const Case cases[] = {
      {"runs past the flash", S3(0x1FFFE, {1, 2, 3, 4}) + "\n" + S3(0, {9}), kLoadDataError,
       Eq("error in S Record Address    20000\n"), {{0x1FFFE, 1}, {0x1FFFF, 2}}},
      {"far outside", S3(0x80000000, {1}), kLoadDataError, Eq("error in S Record Address 80000000\n"), {}},
      {"checksum one high", "S30900000100AABBCCDDE8\n" + S3(0, {9}), kLoadChecksumError,
       Eq("error in S Record Check Sum 18:S30900000100AABBCCDDE8\n"),
       {{0x100, 0xAA}, {0x101, 0xBB}, {0x102, 0xCC}, {0x103, 0xDD}}, 1},
      {"checksum one low, small sum", "S30600000000FFF9;tail", kLoadChecksumError,
       Eq("error in S Record Check Sum  5:S30600000000FFF9;tail\n"), {{0, 0xFF}}},
      malformed("tag only", "S3"),
      malformed("address cut short", "S3090000"),
      malformed("count below 5", "S30400000000FB"),
      malformed("count beyond text", full.substr(0, full.size() - 1)),
      malformed("count not hex", "S3G90000010001020300"),
      malformed("address not hex", "S30800x0010001020300"),
      malformed("data not hex", "S30800000100g1020300"),
      malformed("checksum not hex", "S30500000100Q0"),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    EXPECT_EQ(Load(c.text), c.result);
    EXPECT_THAT(Log(), c.log);
    EXPECT_TRUE(*image_ == *Expected(c.stored));
    EXPECT_FALSE(report_.reason.empty());
    if (c.line != 0) {
      EXPECT_EQ(report_.line, c.line);
      EXPECT_THAT(Log(), HasSubstr(report_.record));
    }
  }
}

}  // namespace
