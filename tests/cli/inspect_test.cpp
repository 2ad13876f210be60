// tovrin-cli inspect: the loader's verdict with the record it stopped at, and a
// plan of frames that must be the frames a run then sends.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <string>
#include <vector>

#include "tests/cli/cli_test_support.h"
#include "tests/support/image_files.h"

namespace {

using namespace clitest;
using nlohmann::json;

class CliInspect : public testing::Test {
 protected:
  Outcome Inspect(const std::string& text, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"inspect", files.Write("image.s19", text), "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Cli(args);
  }
  TempFiles files;
};

// The loader's own edge files: each must be refused with its result, and the
// record quoted must be the one the loader stopped at, on the line it is on.
TEST_F(CliInspect, BadRecordIsQuotedWithItsLine) {
  const std::string good = S3(0x10, {0x42});
  const std::string full = S3(0x100, {1, 2, 3});
  std::string manyGood;
  for (std::uint32_t i = 0; i < 1000; ++i) manyGood += S3(0x20 * i, {1, 2, 3, 4}) + "\n";
  struct Case {
    std::string name;
    std::string text;
    int result;
    std::size_t line;
    std::string record;
  } cases[] = {
      {"runs past the flash", S3(0x1FFFE, {1, 2, 3, 4}) + "\n" + S3(0, {9}), 1, 1, S3(0x1FFFE, {1, 2, 3, 4})},
      {"far outside", S3(0x80000000, {1}), 1, 1, S3(0x80000000, {1})},
      {"checksum one high", "S30900000100AABBCCDDE8\n" + S3(0, {9}), 2, 1, "S30900000100AABBCCDDE8"},
      {"checksum with trailing text", "S30600000000FFF9;tail", 2, 1, "S30600000000FFF9;tail"},
      {"tag only", good + "\nS3\n" + good, 1, 2, "S3"},
      {"address cut short", good + "\nS3090000\n" + good, 1, 2, "S3090000"},
      {"count below 5", good + "\nS30400000000FB\n" + good, 1, 2, "S30400000000FB"},
      {"count beyond text", good + "\n" + full.substr(0, full.size() - 1) + "\n" + good, 1, 2,
       full.substr(0, full.size() - 1)},
      {"count not hex", good + "\nS3G90000010001020300\n" + good, 1, 2, "S3G90000010001020300"},
      {"data not hex", good + "\nS30800000100g1020300\n" + good, 1, 2, "S30800000100g1020300"},
      {"checksum not hex", good + "\nS30500000100Q0\n" + good, 1, 2, "S30500000100Q0"},
      // Lines end in CR LF and other records come first; only S3 records are judged.
      {"after S1 records and blank lines",
       SRecord('1', 0x100, {1}) + "\r\n\r\n" + good + "\r\nS1 words S3 \r\n" + S3(0x300, {7}), 1, 4, "S3"},
      // The first of two bad records, after a thousand good ones.
      {"deep in a long file",
       SRecord('0', 0, {}) + "\n" + manyGood + "S30900000100AABBCCDDE8\n" + good + "\nS3\n", 2, 1002,
       "S30900000100AABBCCDDE8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = Inspect(c.text);
    EXPECT_EQ(o.status, c.result);
    const json report = o.Json();
    ASSERT_FALSE(report.is_discarded()) << o.out;
    EXPECT_EQ(report["result"], c.result);
    EXPECT_EQ(report["message"], c.result == 1 ? "Error in S Record data" : "Error in S Record check sum");
    EXPECT_EQ(report["bad_record"]["line"], c.line);
    EXPECT_EQ(report["bad_record"]["text"], c.record);
    EXPECT_TRUE(report["loader_line"].is_string());
    EXPECT_FALSE(report.contains("frames")) << "a run with this file sends nothing";
    EXPECT_EQ(o.err, "") << "the loader's words belong in the report only";
  }
}

// For each file, the plan inspect gives must be what ProgramBoard then sends to
// the board with the same stamp: count, first and last frame.
TEST_F(CliInspect, PlannedFramesAreTheFramesARunSends) {
  struct Case {
    const char* name;
    Runs runs;
    std::string serial;
    int frames;
  } cases[] = {
      {"sparse", {{0x0000, Pattern(100, 1)}, {0x5003, Pattern(7, 2)}, {0x10000, Pattern(300, 3)}}, "SN42", 9},
      {"data at 0x1002 goes out from 0x1000", {{0x1002, Pattern(4, 5)}}, "SN42", 2},
      {"only the identity when the file is blank", {{0x2000, Bytes(256, 0xFF)}}, "SN42", 1},
      {"frame reaching past the end", {{0x1FF00, Pattern(1, 6)}, {0x1FFD0, Pattern(48, 7)}}, "SN42", 3},
      {"data in the last bytes", {{0x1FFF0, Pattern(16, 8)}}, "SN42", 1},
      // A frame from 0x3E4 ends at 0x423: a short stamp fits in it, a longer
      // serial number needs one more frame.
      {"short stamp inside the frame before it", {{0x3E4, Pattern(0x3C, 9)}}, "", 1},
      {"long stamp spills into another frame", {{0x3E4, Pattern(0x3C, 9)}}, "ABCDEFGH", 2},
      {"whole flash", {{0, Pattern(0x20000, 10)}}, "SN42", 2047},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = S19(c.runs);
    const Outcome o = Inspect(text, {"--rev", "C", "--serial", c.serial});
    ASSERT_EQ(o.status, 0) << o.out;
    const json frames = o.Json()["frames"];

    SimBoard sim;
    START_SIM(sim, UdpBoard());
    const Outcome run = Cli({"--board", "127.0.0.1", "--quiet", "program", files.Write("run.s19", text), "--rev", "C",
                             "--serial", c.serial});
    ASSERT_EQ(run.status, 0) << run.out;
    const auto sent = Frames(sim);
    ASSERT_EQ(static_cast<int>(sent.size()), c.frames);
    EXPECT_EQ(frames["count"], sent.size());
    EXPECT_EQ(frames["first"], sent.front());
    EXPECT_EQ(frames["last"], sent.back());
  }
}

TEST_F(CliInspect, ReportsIgnoredRecordsUnsentDataAndTheFilesIdentity) {
  // The loader's mixed file: S0, S1, S2, S3 (one in lower-case hex), S5, S7, and
  // a comment whose words look like record types but are not records.
  const std::string mixed = SRecord('0', 0, {'h', 'd', 'r'}) + "\r\n" + SRecord('1', 0x0100, {0x11, 0x11}) + "\r\n" +
                            SRecord('2', 0x000200, {0x22}) + "\r\n" + S3(0x100, {0xAA, 0xBB}) + "\r\n" +
                            "\t  a comment, S5 S7 and S1 words  \n" + S3(0x1FFFF, {0x5A}) + "\r" +
                            LowerHex(S3(0x10000, {0xAB, 0xCD})) + "\n" + S3(0x100, {0xCC}) + S3(0x5000, {0x77}) + "\n" +
                            SRecord('5', 4, {}) + "\n" + SRecord('7', 0, {});
  // The board must hear nothing from inspect.
  SimBoard sim;
  START_SIM(sim, SimOptions{});

  Outcome o = Inspect(mixed);
  ASSERT_EQ(o.status, 0) << o.out;
  json r = o.Json();
  EXPECT_EQ(r["records"], (json{{"S0", 1}, {"S1", 1}, {"S2", 1}, {"S3", 4}, {"S4", 0}, {"S5", 1}, {"S6", 0},
                                 {"S7", 1}, {"S8", 0}, {"S9", 0}}));
  EXPECT_EQ(r["data"], json::parse(R"([{"first":256,"last":257},{"first":65536,"last":65537},)"
                                   R"({"first":131071,"last":131071}])"));
  EXPECT_EQ(r["frames"]["unsent_bytes"], 1);
  ASSERT_EQ(r["warnings"].size(), 4u);
  EXPECT_EQ(r["warnings"][0], "1 S1 and 1 S2 records: a run ignores them; only S3 records are programmed");
  // The record glued after the one at 0x100 is lost; 0x100 is given 0xAA, then 0xCC.
  EXPECT_EQ(r["warnings"][1], "1 S3 record with text after the checksum, first on line 7: a run drops that text, "
                              "and a record glued there is lost");
  EXPECT_EQ(r["warnings"][2], "1 address given different bytes by two records, first 0x00100: a run sends the "
                              "later record's");
  EXPECT_EQ(r["warnings"][3],
            "1 byte of data from 0x1FFFF are never sent: a run stops short of the flash's last bytes");
  // No identity in the file: its bytes are blank, and the plan says its stamp is assumed.
  EXPECT_EQ(r["file_identity"]["bytes"], std::string(32, 'F'));
  EXPECT_EQ(r["stamp"], (json{{"revision", "A"}, {"serial", ""}, {"assumed", true}}));

  // A file with its own identity: reported as the window would show it, and
  // used for the stamp where none is given.
  const Bytes record = {'Z', 'S', 'N', '9', 0, 0, 0, 0, 0, 0, 'V', 'R', '9', '9', 0, 0};
  o = Inspect(S19({{0x420, record}}), {"--rev", "Q"});
  r = o.Json();
  EXPECT_EQ(r["file_identity"],
            (json{{"revision", "Z"}, {"serial", "SN9"}, {"hardware", "VR99"}, {"bytes", "5A534E39000000000000565239390000"}}));
  EXPECT_EQ(r["stamp"], (json{{"revision", "Q"}, {"serial", "SN9"}, {"assumed", false}}));
  EXPECT_EQ(r["warnings"], json::array());

  // The same file for a person: warnings as lines of their own, nothing on stderr.
  o = Cli({"inspect", files.Write("mixed.s19", mixed)});
  EXPECT_NE(o.out.find("Warning:   1 S1 and 1 S2 records: a run ignores them"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Frames:    3 program frames of 64 bytes, first at 0x00100, last at 0x10000"),
            std::string::npos)
      << o.out;
  EXPECT_EQ(o.err, "");

  EXPECT_TRUE(sim.Events().empty());
}

// What the loader read in each format, as inspect formats it: the format,
// Intel HEX records by type, ELF segments loaded or skipped and why, and a
// refusal that names a segment rather than a line.
TEST_F(CliInspect, SaysWhatEachFormatGaveAndWhatWasSkipped) {
  const std::string elf = files.Write(
      "fw.elf", ElfFile({{1, 0x100, 0x80000000, {1, 2, 3, 4}, 64, 0, 0}, {4, 0, 0, {7}, 0, 0, 0},
                         {1, 0x80000100, 0x80000100, {}, 32, 0, 0}},
                        32, true));
  Outcome o = Cli({"inspect", elf, "--json"});
  ASSERT_EQ(o.status, 0) << o.out;
  json r = o.Json();
  EXPECT_EQ(r["format"], "elf");
  EXPECT_EQ(r["records"], nullptr);
  EXPECT_EQ(r["elf"], (json{{"bits", 32}, {"byte_order", "big"}}));
  ASSERT_EQ(r["segments"].size(), 3u);
  EXPECT_EQ(r["segments"][0]["loaded"], true);
  EXPECT_EQ(r["segments"][0]["memory_bytes"], 64);
  EXPECT_EQ(r["segments"][1]["skipped"], "not loaded: PT_NOTE");
  EXPECT_EQ(r["segments"][2]["loaded"], false);
  EXPECT_EQ(r["data"], json::parse(R"([{"first":256,"last":259}])"));
  o = Cli({"inspect", elf});
  EXPECT_NE(o.out.find("File:      " + elf + "\nFormat:    ELF (from the content)\nLoad:      0, loaded\n"),
            std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("ELF:       32-bit big-endian, 3 program headers read\n"
                       "Segment:   0 loaded: 0x00100-0x00103 (virtual 0x80000000), 4 bytes; "
                       "60 more zeroed at run time, not programmed\n"
                       "Segment:   1 skipped: not loaded: PT_NOTE\n"
                       "Segment:   2 skipped: no bytes in the file: zeroed at run time, not flash content\n"),
            std::string::npos)
      << o.out;

  o = Cli({"inspect", files.Write("high.elf", ElfFile({{1, 0x1FFF0, 0, Bytes(32, 1), 0, 0, 0}}, 64, false)), "--json"});
  EXPECT_EQ(o.status, 1);
  r = o.Json();
  EXPECT_EQ(r["reason"], "segment 0 (physical 0x0001FFF0, 32 bytes): outside the flash");
  EXPECT_EQ(r["bad_record"], nullptr);
  EXPECT_FALSE(r.contains("frames"));

  // A file cut short before its end-of-file record loads, with a warning.
  o = Inspect(HexBase(4, 1) + "\n" + HexData(0x10, {0xAB}) + "\n");
  r = o.Json();
  EXPECT_EQ(r["format"], "ihex");
  EXPECT_EQ(r["records"], (json{{"data", 1}, {"end_of_file", 0}, {"extended_segment_address", 0},
                                {"start_segment_address", 0}, {"extended_linear_address", 1},
                                {"start_linear_address", 0}}));
  EXPECT_EQ(r["warnings"], json::array({"no end-of-file record: the file may have been cut short"}));
  EXPECT_EQ(r["data"], json::parse(R"([{"first":65552,"last":65552}])"));

  o = Inspect(std::string(4, '\x11'), {"--format", "bin", "--base", "0x5000"});
  EXPECT_EQ(o.Json()["base"], 0x5000);
  EXPECT_EQ(o.Json()["format"], "bin");
}

// Files a run refuses whole: told at once, never waited on.
TEST_F(CliInspect, FilesARunRefusesWhole) {
  struct Case {
    const char* name;
    std::string path;
    int result;
    std::string message;
  };
  std::vector<Case> cases = {
      {"missing", files.Path("absent.s19"), 6, "Cannot open S Record file: No such file or directory"},
      {"folder", files.Path(""), 6, "Cannot open S Record file: not a regular file: a folder"},
      {"no S3 record", files.Write("words.s19", "plain words\n" + SRecord('1', 0x100, {1}) + "\n"), 1,
       "Error in S Record data"},
      {"no format at all", files.Write("words.txt", "plain words\n"), 1, "Error in S Record data"},
  };
#ifndef _WIN32
  const std::string fifo = files.Path("fifo.s19");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  cases.push_back({"FIFO without a writer", fifo, 6, "Cannot open S Record file: not a regular file: a FIFO"});
  cases.push_back({"device", "/dev/zero", 6, "Cannot open S Record file: not a regular file: a device"});
#endif
  for (const Case& c : cases) {
    const Outcome o = Cli({"inspect", c.path, "--json"});
    EXPECT_EQ(o.status, c.result) << c.name;
    EXPECT_EQ(o.Json()["message"], c.message) << c.name;
  }
}

}  // namespace
