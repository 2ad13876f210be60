// tovrin-cli identity and program in-process against the simulated board: what
// the board's flash holds afterwards, the exit status and message of every
// outcome, the --json object and the --log record, and command lines refused
// before anything is sent.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "run/run_record.h"
#include "vocabulary/vocabulary.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/image_files.h"

namespace {

using namespace clitest;
using nlohmann::json;

constexpr const char kConnectFailedPrefix[] = "Failed to connection to the Varnel board. Error = ";

class CliFast : public testing::Test {
 protected:
  TempFiles files;
};

class CliBoardTest : public testing::TestWithParam<bool> {
 protected:
  bool Udp() const { return GetParam(); }
  SimOptions Board() const { return Udp() ? UdpBoard() : TcpBoard(); }
  const char* LinkType() const { return Udp() ? "UDP" : "TCP"; }

  // program FILE on the board at 127.0.0.1 with the given options.
  Outcome Program(const std::string& path, std::vector<std::string> options) {
    std::vector<std::string> args = {"--board", "127.0.0.1", "program", path};
    args.insert(args.end(), options.begin(), options.end());
    return Cli(args);
  }
  TempFiles files;
};

TEST_P(CliBoardTest, IdentityShowsWhatTheBoardHolds) {
  SimOptions options = Board();
  options.revision = 'D';
  options.serial = "XY-7";
  options.hardware = "AB12";
  SimBoard sim;
  START_SIM(sim, options);

  Outcome o = Cli({"--board", "127.0.0.1", "identity"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, std::string("Board:         127.0.0.1\nLink:          ") + LinkType() +
                       "\nRevision:      D\nSerial number: XY-7\nHardware:      AB12\n");

  o = Cli({"identity", "--board", "127.0.0.1", "--json"});
  EXPECT_EQ(o.status, 0);
  const json r = o.Json();
  EXPECT_EQ(r["link"], LinkType());
  EXPECT_EQ(r["identity"], (json{{"revision", "D"}, {"serial", "XY-7"}, {"hardware", "AB12"},
                                 {"bytes", "4458592D3700FFFFFFFF41423132FFFF"}}));
  EXPECT_EQ(r["result"], 0);
  EXPECT_FALSE(AnyCommand(sim, 'e'));
}

TEST_P(CliBoardTest, ProgramWritesTheExactFlashAndReportsItInJson) {
  const Runs runs = {{0x0000, Pattern(100, 1)}, {0x5003, Pattern(7, 2)}, {0x10000, Pattern(300, 3)}};
  SimBoard sim;
  START_SIM(sim, Board());
  const Outcome o = Program(files.Write("image.s19", S19(runs)), {"--serial", "SN42", "--rev", "C", "--json"});

  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(sim.Flash(), Expected(runs, "SN42", 'C'));
  EXPECT_TRUE(sim.Locked());
  const json r = o.Json();
  ASSERT_FALSE(r.is_discarded()) << o.out;
  EXPECT_EQ(r["board"], "127.0.0.1");
  EXPECT_EQ(r["link"], LinkType());
  EXPECT_EQ(r["identity_before"], (json{{"revision", "B"}, {"serial", "123456"}, {"hardware", "VR32"},
                                        {"bytes", "4231323334353600FFFF56523332FFFF"}}));
  EXPECT_EQ(r["written"], (json{{"revision", "C"}, {"serial", "SN42"}}));
  EXPECT_EQ(r["frames"], (json{{"planned", 9}, {"acknowledged", 9}, {"unsent_bytes", 0}}));
  EXPECT_EQ(Frames(sim).size(), 9u);
  EXPECT_EQ(r["result"], 0);
  EXPECT_EQ(r["message"], "Download Successful");
  EXPECT_TRUE(r["seconds"].is_number());
  EXPECT_TRUE(std::regex_match(r["sha256"].get<std::string>(), std::regex("[0-9a-f]{64}")));
  // Progress and the core's diagnostics went to standard error.
  EXPECT_NE(o.err.find("Program Flash\n"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("programmed 9 of 9 frames (100%)\n"), std::string::npos) << o.err;
}

// The same content as Intel HEX, ELF (each class and byte order) and raw
// binary programs the same flash as the S19, and the run says which it read.
TEST_P(CliBoardTest, EveryFormatProgramsTheFlashItsS19Would) {
  const Runs runs = {{0x0000, Pattern(100, 1)}, {0x5003, Pattern(7, 2)}, {0x10000, Pattern(300, 3)}};
  std::string hex;
  std::vector<ElfEntry> segments;
  for (const auto& [start, bytes] : runs) {
    hex += HexBase(4, static_cast<std::uint16_t>(start >> 16)) + "\n";
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
      const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(at);
      hex += HexData(static_cast<std::uint16_t>(start + at), Bytes(first, first + std::min<std::ptrdiff_t>(16, bytes.end() - first))) + "\n";
    }
    // Run from RAM, stored in the flash, with room for zeroed data after it.
    segments.push_back({1, start, 0x80000000u + start, bytes, bytes.size() + 64, 0, 0});
  }
  Bytes flat(0x10000 + 300, 0xFF);
  for (const auto& [start, bytes] : runs) std::copy(bytes.begin(), bytes.end(), flat.begin() + start);
  struct Case {
    std::string path;
    std::vector<std::string> options;
    const char* format;
  } cases[] = {
      {files.Write("image.s19", S19(runs)), {}, "srec"},
      {files.Write("image.hex", hex + HexEnd() + "\n"), {}, "ihex"},
      {files.Write("image32.elf", ElfFile(segments, 32, false)), {}, "elf"},
      {files.Write("image64be.elf", ElfFile(segments, 64, true)), {}, "elf"},
      // From 0x5000 on: the run at 0 is not in it.
      {files.Write("image.bin", std::string(flat.begin() + 0x5000, flat.end())), {"--format", "bin", "--base", "0x5000"},
       "bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SimBoard sim;
    START_SIM(sim, Board());
    std::vector<std::string> options = {"--serial", "SN42", "--rev", "C", "--json"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    const Outcome o = Program(c.path, options);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    Runs given = runs;
    if (std::string(c.format) == "bin") given.erase(0);
    EXPECT_EQ(sim.Flash(), Expected(given, "SN42", 'C'));
    EXPECT_EQ(o.Json()["format"], c.format);
  }
}

// As the window pre-fills its fields after Connect: what is not given is what
// the board holds.
TEST_P(CliBoardTest, ProgramKeepsTheBoardsIdentityWhereNoneIsGiven) {
  const Runs runs = {{0x800, Pattern(64, 4)}};
  struct Case {
    std::vector<std::string> options;
    std::string serial;
    char revision;
  } cases[] = {
      {{}, "123456", 'B'},
      {{"--rev", "Z"}, "123456", 'Z'},
      {{"--serial", "N1"}, "N1", 'B'},
      {{"--serial", ""}, "", 'B'},
      {{"--serial", "ABCDEFGHIJKLMNO"}, "ABCDEFGHIJKLMNO", 'B'},  // the longest allowed
  };
  const std::string path = files.Write("image.s19", S19(runs));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial);
    SimBoard sim;
    START_SIM(sim, Board());
    const Outcome o = Program(path, c.options);
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_EQ(sim.Flash(), Expected(runs, c.serial, c.revision));
  }
}

// The checks the command line makes of a board and a file, end to end: what the
// board's side can do to a run is the run's own table.
TEST_F(CliFast, EachRefusalExitsWithItsCodeAndMessage) {
  const Runs runs = {{0x0, Pattern(0x200, 11)}};  // eight frames, then the identity
  std::string badChecksum = S3(0x100, {1, 2, 3});
  badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
  const std::string good = files.Write("good.s19", S19(runs));
  struct Case {
    const char* name;
    void (*set)(SimOptions&);
    std::string path;
    std::vector<std::string> options;
    int status;
    std::string message;
    int acknowledged;
    const char* cause = nullptr;  // the command the JSON names as the cause, when one failed
  } cases[] = {
      {"data beyond the flash", nullptr, files.Write("beyond.s19", S3(0x1FFFE, {1, 2, 3}) + "\n"), {}, 1,
       "Error in S Record data", 0},
      {"wrong checksum", nullptr, files.Write("checksum.s19", badChecksum + "\n"), {}, 2,
       "Error in S Record check sum", 0},
      {"missing file", nullptr, files.Path("absent.s19"), {}, 6, "Cannot open S Record file", 0},
      {"a folder", nullptr, files.Path(""), {}, 6, "Cannot open S Record file", 0},
      {"no S3 record", nullptr, files.Write("s1.s19", SRecord('1', 0x100, {1, 2}) + "\n"), {}, 1,
       "Error in S Record data", 0},
      {"identity unreadable", [](SimOptions& o) { o.faults.badReadChecksum = true; }, good, {}, 11,
       "Failed to upload current Serial number and Rev.", 0, "read"},
      {"another board model", nullptr, good, {"--expect-hardware", "VR99"}, 12,
       "Wrong board: hardware code VR32, expected VR99. Nothing was erased.", 0},
      {"the expected board model", nullptr, good, {"--expect-hardware", "VR32"}, 0, "Download Successful", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions options = UdpBoard();
    if (c.set) c.set(options);
    SimBoard sim;
    START_SIM(sim, options);
    std::vector<std::string> args = {"--board", "127.0.0.1", "program", c.path, "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome o = Cli(args);
    EXPECT_EQ(o.status, c.status);
    const json r = o.Json();
    ASSERT_FALSE(r.is_discarded()) << o.out;
    EXPECT_EQ(r["result"], c.status);
    EXPECT_EQ(r["message"], c.message);
    EXPECT_EQ(r["frames"]["acknowledged"], c.acknowledged);
    EXPECT_EQ(Frames(sim).size(), static_cast<std::size_t>(c.acknowledged));
    EXPECT_EQ(AnyCommand(sim, 'e'), c.status == 0) << "nothing is erased before every check passed";
    if (c.cause == nullptr) {
      EXPECT_EQ(r["cause"], nullptr);
    } else {
      EXPECT_EQ(r["cause"]["command"], c.cause);
    }
  }
}

// What the command line makes of each way a run ends, from its report alone:
// the exit status, and the record's result, message, cause and what was written.
TEST(CliRunMapping, EachEndingHasItsStatusAndRecord) {
  auto report = [](RunStage stage, auto&& fill) {
    RunReport r;
    r.stage = stage;
    r.board = "127.0.0.1";
    fill(r);
    return r;
  };
  auto programmed = [&](int result, auto&& fill) {
    return report(RunStage::kProgram, [&](RunReport& r) {
      r.connected = r.identityRead = true;
      r.run.result = result;
      fill(r);
    });
  };
  auto refusedFrame = [](RunReport& r) {
    r.run.command = LinkCommand::kProgram;
    r.run.frame = 3;
    r.run.address = 0x80;
    r.run.outcome.cause = LinkCause::kRefused;
    r.run.outcome.ack = 0x4E;
  };
  struct Case {
    const char* name;
    RunReport report;
    int interrupt;  // the signal's status the command saw; 0: none
    int status;
    json result;
    std::string message;
    json cause;
    bool written;
  } cases[] = {
      {"file refused", report(RunStage::kFile, [](RunReport& r) { r.file.result = 2; }), 0, 2, 2,
       "Error in S Record check sum", nullptr, false},
      {"no board", report(RunStage::kConnect, [](RunReport& r) { r.opened = OpenOutcome::Failed(10111); }), 0, 10, 10,
       "Failed to connection to the Varnel board. Error = 10111.", nullptr, false},
      {"identity unread", report(RunStage::kIdentity, [](RunReport& r) {
         r.connected = true;
         r.identityOutcome.cause = LinkCause::kNoReply;
         r.identityOutcome.waitMs = 5000;
       }), 0, 11, 11, "Failed to upload current Serial number and Rev.",
       {{"command", "read"}, {"what", "no reply within 5000 ms"}}, false},
      {"refused by a check", report(RunStage::kRefused, [](RunReport& r) {
         r.refusal = Refusal::kWrongHardware;
         r.refusalMessage = "Wrong board";
       }), 0, 12, 12, "Wrong board", nullptr, false},
      {"a frame refused", programmed(kProgramFrameFailed, refusedFrame), 0, 4, 4, "Abort Program Flash",
       {{"command", "program"}, {"frame", 3}, {"address", "0x00080"}, {"what", "board refused (0x4E instead of 0x4F)"}},
       true},
      {"read back differs", programmed(kProgramVerifyFailed, [](RunReport& r) {
         r.run.command = LinkCommand::kRead;
         r.run.address = 0x4000;
       }), 0, 7, 7, "Verify failed at 0x04000", nullptr, true},
      {"stopped by SIGTERM mid-run", programmed(kProgramInterrupted, [&](RunReport& r) {
         refusedFrame(r);
         r.run.outcome = LinkOutcome{};
         r.stoppedBy = "SIGTERM";
       }), 143, 143, "interrupted", "Programming interrupted",
       {{"command", "program"}, {"frame", 3}, {"address", "0x00080"},
        {"what", "stopped by SIGTERM before it was sent; the board is not locked"}}, true},
      // A stop during a connect that then fails is a stop, not a failed connect.
      {"stopped by Ctrl+C while connecting", report(RunStage::kConnect, [](RunReport& r) {
         r.opened = OpenOutcome::Failed(10111);
         r.stoppedBy = "Ctrl+C";
       }), 130, 130, "interrupted", "Programming interrupted",
       {{"what", "stopped by Ctrl+C while connecting; nothing was erased"}}, false},
      {"done", programmed(kProgramDone, [](RunReport&) {}), 0, 0, 0, "Download Successful", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunExitStatus(c.report, c.interrupt), c.status);
    const json record = json::parse(JsonLine(RunRecord(c.report, {"program", "", 0, 0})));
    EXPECT_EQ(record["result"], c.result);
    EXPECT_EQ(record["message"], c.message);
    EXPECT_EQ(record["cause"], c.cause);
    EXPECT_EQ(!record["written"].is_null(), c.written);
  }
}

// Bytes of the identity above 0x7F, in what the board held and in what was
// written, come back exactly from the record, as a file name's do.
TEST(CliRunMapping, RecordKeepsEveryByteOfTheIdentity) {
  RunReport r;
  r.stage = RunStage::kProgram;
  r.connected = r.identityRead = true;
  const std::string before = "C" "SN\xE9" "001" + std::string(3, '\0') + "\xFF\xFF\xFF\xFF" + std::string(2, '\xFF');
  std::copy(before.begin(), before.end(), r.identityBefore.begin());
  r.revision = "\xC4";
  r.serial = "SN\xE9\xFF";
  const json record = json::parse(JsonLine(RunRecord(r, {"batch", "", 0, 0})));
  EXPECT_EQ(record["identity_before"]["serial"], "SN\\xE9001");
  EXPECT_EQ(record["identity_before"]["serial_hex"], "534EE9303031");
  EXPECT_EQ(record["identity_before"]["hardware_hex"], "FFFFFFFF");
  EXPECT_EQ(record["identity_before"]["bytes"], "43534EE9303031000000FFFFFFFFFFFF");
  EXPECT_EQ(record["written"], (json{{"revision", "\\xC4"}, {"revision_hex", "C4"}, {"serial", "SN\\xE9\\xFF"},
                                     {"serial_hex", "534EE9FF"}}));
  EXPECT_EQ(record["record_version"], kRunRecordVersion);
}

TEST_F(CliFast, WithoutABoardConnectFails) {
  const std::string path = files.Write("image.s19", S19({{0x800, Pattern(8, 5)}}));
  Outcome o = Cli({"--board", "127.0.0.1", "program", path, "--json"});
  EXPECT_EQ(o.status, 10);
  const json r = o.Json();
  EXPECT_EQ(r["link"], nullptr);
  EXPECT_EQ(r["identity_before"], nullptr);
  EXPECT_EQ(r["written"], nullptr);
  EXPECT_EQ(r["message"].get<std::string>().rfind(kConnectFailedPrefix, 0), 0u) << r["message"];

  o = Cli({"--board", "127.0.0.1", "identity"});
  EXPECT_EQ(o.status, 10);
  EXPECT_EQ(o.out.rfind(kConnectFailedPrefix, 0), 0u) << o.out;
}

TEST_P(CliBoardTest, TextOutputShowsProgressUnlessQuiet) {
  const Runs runs = {{0x0, Pattern(0x400, 6)}};  // sixteen frames and the identity
  const std::string path = files.Write("image.s19", S19(runs));
  SimBoard sim;
  START_SIM(sim, Board());

  Outcome o = Program(path, {"--serial", "T1"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("Board 127.0.0.1 over " + std::string(LinkType()) +
                       ": revision B, serial number 123456, hardware VR32\n"
                       "Programming " + path + " with revision B, serial number T1: 17 frames\n"),
            std::string::npos)
      << o.out;
  // A line per tenth, not per frame, when the output is not a terminal.
  EXPECT_NE(o.out.find("programmed 2 of 17 frames (11%)\nprogrammed 4 of 17 frames (23%)\n"), std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("programmed 17 of 17 frames (100%)\nDownload Successful\n"), std::string::npos) << o.out;
  EXPECT_EQ(o.err, "");

  o = Program(path, {"--serial", "T2", "--quiet"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "Program Flash\nDownload Successful\n");
}

INSTANTIATE_TEST_SUITE_P(Transport, CliBoardTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "Udp" : "Tcp"; });

// The production record: one line per run, whatever its outcome, with the SHA-256
// of the exact file sent.
// Nothing from a file or its name reaches the terminal raw; a name that is not
// UTF-8 is kept exactly in the JSON. Data that no frame carries is said in the
// text, the JSON and the run log.
TEST_F(CliFast, FileTextIsEscapedAndUnsentDataIsSaid) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows file name cannot hold control characters";
#endif
  const std::string path = files.Write("evil\x1B]0;title\x07\xFF.s19", S19({{0x800, Pattern(8, 5)}, {0x1FFF0, Pattern(16, 8)}}));
  std::string hex;
  for (const char c : path) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(c));
    hex += pair;
  }
  const std::string log = files.Path("runs.log");
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  Outcome o = Cli({"--board", "127.0.0.1", "program", path, "--log", log});
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_NE(o.out.find("Warning: 16 bytes of data from 0x1FFF0 are never sent"), std::string::npos) << o.out;
  EXPECT_NE((o.out + o.err).find("evil\\x1B]0;title\\x07\\xFF.s19"), std::string::npos) << o.out;
  o.err += Cli({"inspect", files.Write("esc.s19", "S3\x1B[2J\n")}).out;
  for (const std::string& text : {o.out, o.err}) EXPECT_EQ(text.find_first_of("\x1B\x07"), std::string::npos) << text;

  const json r = Cli({"--board", "127.0.0.1", "program", path, "--json"}).Json();
  // batch writes the same record from the same function. Serial numbers from
  // --serial-from and from STATE are escaped as well.
  const std::string batchLog = files.Path("batch.log");
  auto Batch = [&](std::vector<std::string> more) {
    const std::vector<std::string> args = {"--board", "127.0.0.1", "batch", path, "--log", batchLog, "--count", "1"};
    more.insert(more.begin(), args.begin(), args.end());
    return Cli(more);
  };
  const Outcome programmed = Batch({"--serial-from", "B01", "--state", files.Path("state")});
  ASSERT_EQ(programmed.status, 0) << programmed.err;
  // A range is written in printable ASCII: one with control bytes is refused
  // before anything is sent, and its words are escaped too.
  const Outcome unprintable = Batch({"--serial-from", "B\x1B[2J01", "--state", files.Path("state2")});
  EXPECT_EQ(unprintable.status, 64);
  const Outcome refused = Batch(
      {"--serial-from", "B01", "--state", files.Write("other.state", R"({"first": "\u001b[2JA01", "next": "A02"})")});
  EXPECT_EQ(refused.status, 14);
  for (const std::string& text : {programmed.out, programmed.err, unprintable.out, unprintable.err, refused.out,
                                  refused.err}) {
    EXPECT_EQ(text.find('\x1B'), std::string::npos) << text;
  }
  std::ifstream in(log);
  std::ifstream batchIn(batchLog);
  std::string line;
  std::string batchLine;
  std::getline(in, line);
  std::getline(batchIn, batchLine);
  const json logged = json::parse(line);
  const json batch = json::parse(batchLine);
  for (const json& report : {r, logged, batch}) {
    EXPECT_EQ(report["frames"]["unsent_bytes"], 16);
    EXPECT_EQ(report["file"], path.substr(0, path.size() - 5) + "\\xFF.s19");
    EXPECT_EQ(report["file_hex"], hex);
  }
  std::vector<std::string> programKeys;
  std::vector<std::string> batchKeys;
  for (const auto& [key, value] : logged.items()) programKeys.push_back(key);
  for (const auto& [key, value] : batch.items()) batchKeys.push_back(key);
  EXPECT_EQ(batchKeys, programKeys);
}

TEST_F(CliFast, RunLogAppendsOneLinePerRun) {
  const std::string path = files.Write("logged.s19", "S309000010001020304046\nS30700002000AABB73\nS70500000000FA\n");
  const std::string log = files.Path("runs.log");
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  const std::string board[] = {"--board", "127.0.0.1"};
  EXPECT_EQ(Cli({board[0], board[1], "program", path, "--serial", "L1", "--log", log}).status, 0);
  EXPECT_EQ(Cli({board[0], board[1], "program", path, "--log", log, "--expect-hardware", "XX"}).status, 12);

  std::ifstream in(log);
  std::vector<json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line, nullptr, false));
  ASSERT_EQ(lines.size(), 2u);
  for (const json& line : lines) {
    ASSERT_TRUE(line.is_object());
    EXPECT_TRUE(std::regex_match(line["time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(line["file"], path);
    EXPECT_EQ(line["sha256"], "439de5350c22da023564fb1b5b5a5c36dac70e64499e38cd3f8e9b1c95dd6233");
  }
  EXPECT_EQ(lines[0]["identity_before"]["serial"], "123456");
  EXPECT_EQ(lines[1]["identity_before"]["serial"], "L1") << "the board as the first run left it";
  EXPECT_EQ(lines[0]["written"], (json{{"revision", "B"}, {"serial", "L1"}}));
  EXPECT_EQ(lines[0]["frames"], (json{{"planned", 3}, {"acknowledged", 3}, {"unsent_bytes", 0}}));
  EXPECT_EQ(lines[0]["result"], 0);
  EXPECT_EQ(lines[1]["written"], nullptr);
  EXPECT_EQ(lines[1]["result"], 12);
}

// The run log, the trace and STATE are regular files: anything else, or a file
// that cannot be opened, ends the command at once, before the board hears a
// thing; a FIFO is refused without waiting for a reader (or writer).
TEST_F(CliFast, RecordFilesThatCannotServeStopTheRunBeforeConnecting) {
  const std::string path = files.Write("a.s19", S3(0, {1}) + "\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
#ifdef _WIN32
  const std::string device = "NUL";
#else
  const std::string device = "/dev/full";
#endif
  std::vector<Case> cases = {
      {{"program", path, "--log", files.Path("no-such-folder/runs.log")}, 13, "No such file or directory"},
      {{"program", path, "--trace", device}, 13, "not a regular file: a device"},
  };
#ifndef _WIN32
  const std::string fifo = files.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto Batch = [&](std::vector<std::string> more) {
    std::vector<std::string> args = {"batch", path, "--serial-from", "S1", "--count", "1", "--wait-seconds", "1"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const std::string log = files.Path("b.jsonl");
  const std::string state = files.Path("b.state");
  cases.push_back({Batch({"--log", log, "--state", fifo}), 14, "not a regular file: a FIFO"});
  cases.push_back({Batch({"--log", fifo, "--state", state}), 13, "not a regular file: a FIFO"});
  cases.push_back({Batch({"--log", log, "--state", state, "--trace", fifo}), 13, "not a regular file: a FIFO"});
#endif
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--board", "127.0.0.1", "--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    const Outcome o = Cli(args);
    EXPECT_EQ(o.status, c.status) << o.err;
    const json r = o.Json();
    ASSERT_FALSE(r.is_discarded()) << o.out;
    EXPECT_EQ(r["result"], c.status);
    EXPECT_NE(r["message"].get<std::string>().find(c.says), std::string::npos) << r["message"];
  }
  EXPECT_TRUE(sim.Events().empty());
}

// A record never glues onto an unfinished line. (A record the file does not
// take, on a full disk, is cli_process_test's: it needs a limit on the child.)
TEST_F(CliFast, RunLogRecordStartsOnALineOfItsOwn) {
  const std::string path = files.Write("a.s19", S3(0x4000, {1, 2}) + "\n");
  const std::string unfinished = files.Write("unfinished.log", "{\"time\": \"cut off");
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  const Outcome o = Cli({"--board", "127.0.0.1", "program", path, "--log", unfinished, "--json"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(sim.Locked());
  std::ifstream in(unfinished);
  std::string first;
  std::string second;
  ASSERT_TRUE(std::getline(in, first) && std::getline(in, second));
  EXPECT_EQ(first, "{\"time\": \"cut off");
  EXPECT_EQ(json::parse(second, nullptr, false)["result"], 0);
}

#ifndef _WIN32
// A capture that is no regular file is refused as a trace or a run log is,
// before anything is sent: a device cannot keep a run for later.
TEST_F(CliFast, ACaptureOnADeviceIsRefusedBeforeAnythingIsSent) {
  const std::string path = files.Write("a.s19", S3(0x4000, {1, 2}) + "\n");
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  const Outcome o = Cli({"--board", "127.0.0.1", "program", path, "--pcap", "/dev/full"});
  EXPECT_EQ(o.status, 13);
  EXPECT_TRUE(sim.Events().empty());
  EXPECT_NE((o.out + o.err).find("not a regular file: a device"), std::string::npos) << o.out << o.err;
}
#endif

// Bad command lines end with 64 before a single packet: the board hears nothing,
// no file is touched, and the reason fits in a line; under --json, standard
// output holds one object that says so.
TEST_F(CliFast, UsageErrorsSendNothing) {
  const std::string path = files.Write("a.s19", S3(0, {1}) + "\n");
  const std::string log = files.Write("runs.jsonl", "{\"result\": 0}\n");
  const std::string state = files.Write("line.state", "{\"first\": \"S1\", \"next\": \"S4\"}\n");
  const std::string linked = files.Path("linked.s19");
  std::error_code linkError;
  std::filesystem::create_hard_link(path, linked, linkError);
  const std::vector<std::string> batch = {"batch", path, "--serial-from", "S1", "--count", "1", "--wait-seconds", "1"};
  auto Batch = [&batch](std::vector<std::string> more) {
    more.insert(more.begin(), batch.begin(), batch.end());
    return more;
  };
  std::vector<std::vector<std::string>> cases = {
      {},
      {"--board", "127.0.0.1"},
      {"flash", path},
      {"program"},
      {"program", path, "--rev", "AB"},
      {"program", path, "--rev", ""},
      {"program", path, "--serial", "ABCDEFGHIJKLMNOP"},  // 16 characters
      {"program", path, "--expect-hardware", "VR321"},
      {"program", path, "--expect-hardware", ""},
      {"program", path, "--board", "127.0.0.256"},
      {"program", path, "--board", "0.0.0.0"},
      {"program", path, "--board", "255.255.255.255"},
      {"identity", "--board", "224.0.0.1"},
      {"identity", "--board", "239.255.255.250"},
      {"--board", "localhost", "identity"},
      {"program", path, "--bogus"},
      {"program", path, "second.s19"},
      {"identity", "--rev", "C"},
      {"inspect", path, "--log", "runs.log"},
      {"program", path, "--format", "hex"},
      {"program", path, "--base", "0x100"},  // a base is for raw binary only
      {"inspect", path, "--format", "bin", "--base", "0x20000"},
      {"inspect", path, "--format", "bin", "--base", "010"},
      {"batch", path, "--serial-from", "S1", "--state", "s", "--log", "l", "--format", "elf", "--base", "0"},
      {"program", path, "--log", ""},
      {"identity", "--trace", ""},
      Batch({"--state", "", "--log", "l"}),
      Batch({"--state", "s", "--log", "l", "--count", "0"}),
      Batch({"--state", "s", "--log", "l", "--count", "abc"}),
      Batch({"--state", "s", "--log", "l", "--wait-seconds", "0"}),
      // A file written that is another file of the command, however named.
      {"program", path, "--trace", path},
      {"program", path, "--log", log, "--trace", log},
      {"program", path, "--log", linkError ? path : linked},
      {"program", path, "--log", files.Path("new.jsonl"), "--trace", files.Path("./new.jsonl")},
      Batch({"--state", state, "--log", state}),
      Batch({"--state", state, "--log", files.Path("new.jsonl"), "--trace", state}),
      {"read"},                                     // no --out
      {"read", "--out", "d.s19", "--range", "0:0x20001"},  // past the flash's end
      {"read", "--out", "d.s19", "--range", "0x100:0x100"},
      {"read", "--out", "d.s19", "--range", "0x100:0x80"},
      {"read", "--out", "d.s19", "--range", "-1:16"},
      {"read", "--out", "d.s19", "--range", "0x10"},
      {"read", "--out", "d.s19", "--range", "0xG:"},
      {"compare"},
      {"compare", path, "--out", "d.s19"},
      {"identity", "--skip-if-same"},
      {"db", "report", "--db", "x.db", "--from", "2026-12-8"},
      {"db", "report", "--db", "x.db", "--to", "yesterday"},
      // A dump is renamed over its path: only a regular file may be replaced.
      {"read", "--out", files.Path("")},
      {"read", "--out", "-"},
  };
#ifndef _WIN32
  cases.push_back({"read", "--out", "/dev/null"});
#endif
  SimBoard sim;
  START_SIM(sim, SimOptions{});
  for (const auto& args : cases) {
    std::vector<std::string> full = {"--board", "127.0.0.1"};
    full.insert(full.end(), args.begin(), args.end());
    const Outcome o = Cli(full);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(o.status, 64) << shown;
    EXPECT_EQ(o.out, "") << shown;
    EXPECT_NE(o.err.find("tovrin-cli: "), std::string::npos) << shown;
    std::istringstream lines(o.err);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 200u) << shown << line;
    full.insert(full.begin() + 2, "--json");
    const Outcome j = Cli(full);
    EXPECT_EQ(j.status, 64) << shown;
    const std::vector<json> objects = JsonLinesOf(j.out);
    ASSERT_EQ(objects.size(), 1u) << shown << j.out;
    EXPECT_EQ(objects[0]["result"], 64) << shown;
    EXPECT_FALSE(objects[0]["message"].get<std::string>().empty()) << shown;
  }
  EXPECT_TRUE(sim.Events().empty());
  EXPECT_EQ(TempFiles::Read(path), S3(0, {1}) + "\n");
  EXPECT_EQ(TempFiles::Read(log), "{\"result\": 0}\n");
  EXPECT_EQ(TempFiles::Read(state), "{\"first\": \"S1\", \"next\": \"S4\"}\n");
  EXPECT_FALSE(std::filesystem::exists(files.Path("new.jsonl")));
}

TEST(CliHelp, NamesEveryExitCodeAndEachCommandsOptions) {
  const Outcome top = Cli({"--help"});
  EXPECT_EQ(top.status, 0);
  for (const char* code : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  4 ", "\n  5 ", "\n  6 ", "\n  10 ", "\n  11 ",
                           "\n  12 ", "\n  13 ", "\n  64 "}) {
    EXPECT_NE(top.out.find(code), std::string::npos) << code;
  }
  const Outcome program = Cli({"program", "--help"});
  EXPECT_EQ(program.status, 0);
  for (const char* word : {"--rev", "--serial", "--expect-hardware", "--log", "--board", "--json", "Exits with"}) {
    EXPECT_NE(program.out.find(word), std::string::npos) << word;
  }
  EXPECT_NE(Cli({"inspect", "--help"}).out.find("nothing is sent"), std::string::npos);
  EXPECT_NE(Cli({"identity", "--help"}).out.find("11 (identity not read)"), std::string::npos);
}

}  // namespace
