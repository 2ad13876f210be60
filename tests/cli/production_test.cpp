// tovrin-cli on a production line, in-process against the simulated board: the
// read-back verify, the trace of the exchanges, and a batch of boards with its
// serial number state and record.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "os/stop.h"
#include "station/serial_numbers.h"
#include "tests/cli/cli_test_support.h"

namespace {

using namespace clitest;
using nlohmann::json;

// A frame that the board acknowledges but stores wrongly is caught at its first
// byte, and the board stays in its loader; a clean image, one whose last frame
// reaches past the end of the flash included, verifies and is locked.
TEST(CliVerify, CatchesACorruptFrameAndLeavesTheBoardUnlocked) {
  TempFiles files;
  const Runs runs = {{0x4000, Pattern(200, 3)}, {0x1FFD0, Pattern(16, 4)}};
  const std::string path = files.Write("image.s19", S19(runs));
  struct Case {
    bool udp;
    int corruptFrame;  // frames: 0x420 (the stamp), 0x4000, 0x4040, ...
    int status;
    std::string message;
  } cases[] = {
      {true, 0, 0, "Download Successful"},
      {false, 0, 0, "Download Successful"},
      {true, 2, 7, "Verify failed at 0x04000"},
      {false, 3, 7, "Verify failed at 0x04040"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.udp ? "UDP, corrupt frame " : "TCP, corrupt frame ") + std::to_string(c.corruptFrame));
    SimOptions options = c.udp ? UdpBoard() : TcpBoard();
    options.faults.corruptProgramFrame = c.corruptFrame;
    SimBoard sim;
    START_SIM(sim, options);
    const Outcome o = Cli({"--board", "127.0.0.1", "program", path, "--serial", "V1", "--verify", "--json"});
    EXPECT_EQ(o.status, c.status) << o.err;
    const json r = o.Json();
    EXPECT_EQ(r["message"], c.message);
    EXPECT_EQ(sim.Locked(), c.status == 0);
    if (c.status == 0) {
      EXPECT_EQ(sim.Flash(), Expected(runs, "V1", 'B'));
    } else {
      EXPECT_TRUE(r["cause"].is_null()) << "the reads were answered; the bytes differ";
    }
  }
}

// Under loss every line still parses, and the lost replies show as resends of
// the same request (same sequence byte, same bytes). A run's lines follow
// those of earlier runs.
TEST(WireTrace, EveryLineIsJsonAndLossShowsAsResends) {
  TempFiles files;
  const std::string path = files.Write("image.s19", S19({{0x4000, Pattern(256, 5)}}));
  const std::string earlier = R"({"us":0,"event":"timeout","transport":"UDP","wait_ms":50})";
  const std::string trace = files.Write("trace.jsonl", earlier + "\n");
  SimOptions options = UdpBoard();
  options.faults.dropEveryNthUdpReply = 3;
  SimBoard sim;
  START_SIM(sim, options);
  const Outcome o = Cli({"--board", "127.0.0.1", "program", path, "--verify", "--trace", trace});
  ASSERT_EQ(o.status, 0) << o.out << o.err;

  const std::vector<json> lines = JsonLines(trace);
  ASSERT_GT(lines.size(), 20u);
  EXPECT_EQ(lines[0], json::parse(earlier));
  long long lastUs = -1;
  int resends = 0;
  std::set<std::string> commands;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const json& e = lines[i];
    ASSERT_TRUE(e.is_object()) << "line " << i + 1;
    EXPECT_GE(e["us"].get<long long>(), lastUs);
    lastUs = e["us"].get<long long>();
    EXPECT_EQ(e["transport"], "UDP");
    if (e["event"] == "timeout") continue;
    if (e["command"].is_string()) commands.insert(e["command"].get<std::string>());
    EXPECT_EQ(e["bytes"].get<std::string>().size(), 2 * e["length"].get<std::size_t>());
    if (e["event"] == "resend") {
      ++resends;
      // The request it repeats is the last one sent before it.
      for (std::size_t j = i; j-- > 0;) {
        if (lines[j]["event"] == "request" || lines[j]["event"] == "resend") {
          EXPECT_EQ(lines[j]["bytes"], e["bytes"]) << "line " << i + 1;
          break;
        }
      }
    }
  }
  EXPECT_GT(resends, 0);
  EXPECT_EQ(commands, (std::set<std::string>{"read", "erase", "program", "lock"}));
}

// Serial numbers count up with their width kept, and end where the digits do.
TEST(BatchSerials, CountUpKeepingTheWidth) {
  struct Case {
    const char* from;
    const char* next;  // "" when there is none
  } cases[] = {{"SN0001", "SN0002"}, {"SN0099", "SN0100"}, {"A9Z19", "A9Z20"}, {"SN99", ""}, {"SERIAL", ""}};
  for (const Case& c : cases) {
    std::string next;
    EXPECT_EQ(NextSerial(c.from, next), *c.next != 0) << c.from;
    if (*c.next != 0) {
      EXPECT_EQ(next, c.next) << c.from;
    }
  }
}

// A line of five boards fresh from the factory, swapped in quickly, gets
// SN0001..SN0005, one log line each, and a state that continues at SN0006. A board put back is refused and
// left as it was; with --allow-repeat it gets a new number, never an old one. A
// state's range that cannot hold the boards asked for ends the batch before any.
// The file, the state and the log lie in a folder named in Cyrillic ("line"):
// on Windows, names that only the wide calls open.
TEST(Batch, ProgramsALineOfBoardsWithSerialNumbersNeverRepeated) {
  TempFiles files{"\xD0\xBB\xD0\xB8\xD0\xBD\xD0\xB8\xD1\x8F"};
  const Runs runs = {{0x4000, Pattern(128, 6)}};
  const std::string path = files.Write("image.s19", S19(runs));
  const std::string state = files.Path("state.json");
  const std::string log = files.Path("line.log");
  const std::vector<std::string> batch = {"--board", "127.0.0.1", "--json", "batch", path, "--serial-from",
                                          "SN0001", "--state", state, "--log", log, "--wait-seconds", "10"};
  auto Batch = [&](std::vector<std::string> more) {
    std::vector<std::string> args = batch;
    args.insert(args.end(), more.begin(), more.end());
    ClearInterrupt();
    return Cli(args);
  };
  {
    SimOptions line = UdpBoard();
    line.serial = "F001";
    line.lineBoards = 5;
    // Shorter than the batch's probes: each next board answers before the last
    // one could be seen to go, and is told from it by its identity.
    line.resetSilenceMs = 100;
    SimBoard sim;
    START_SIM(sim, line);
    const Outcome o = Batch({"--count", "5", "--verify"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    // The slot's diagnostic lines reach the diagnostic stream on one port too.
    for (const char* step : {"\nProgram Flash\n", "\nVerify Flash\n"}) EXPECT_NE(o.err.find(step), std::string::npos) << o.err;
    // A record per board, then the summary: one port prints what a gang does.
    const std::vector<json> printed = JsonLinesOf(o.out);
    ASSERT_EQ(printed.size(), 6u) << o.out;
    for (int board = 1; board <= 5; ++board) {
      EXPECT_EQ(printed[board - 1]["written"]["serial"], "SN000" + std::to_string(board));
    }
    const json r = printed.back();
    EXPECT_EQ(r["programmed"], 5);
    EXPECT_EQ(r["failed"], 0);
    EXPECT_EQ(r["first_serial"], "SN0001");
    EXPECT_EQ(r["last_serial"], "SN0005");
    EXPECT_NE(o.err.find("Waiting for a board at 127.0.0.1"), std::string::npos);
    for (int board = 1; board <= 5; ++board) {
      EXPECT_EQ(SerialOnBoard(sim.BoardFlash(board)), "SN000" + std::to_string(board)) << "board " << board;
    }
  }
  std::vector<json> lines = JsonLines(log);
  ASSERT_EQ(lines.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(lines[i]["identity_before"]["serial"], "F00" + std::to_string(i + 1));
    EXPECT_EQ(lines[i]["written"]["serial"], "SN000" + std::to_string(i + 1));
    EXPECT_EQ(lines[i]["result"], 0);
    EXPECT_EQ(lines[i]["format"], "srec");
    // Each timing field means the same for every board: the whole run holds its parts.
    EXPECT_GE(lines[i]["seconds"].get<double>(),
              lines[i]["connect_seconds"].get<double>() + lines[i]["program_seconds"].get<double>());
  }
  EXPECT_EQ(JsonLines(state), (std::vector<json>{{{"first", "SN0001"}, {"next", "SN0006"}}}));

  // Board SN0003 comes back to the station.
  SimOptions back = TcpBoard();
  back.serial = "SN0003";
  SimBoard sim;
  START_SIM(sim, back);
  Outcome o = Batch({"--count", "1"});
  EXPECT_EQ(o.status, 15) << o.err;
  EXPECT_FALSE(AnyCommand(sim, 'e')) << "a refused board is not erased";
  EXPECT_EQ(JsonLinesOf(o.out).back()["programmed"], 0);
  o = Batch({"--count", "1", "--allow-repeat"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(SerialOnBoard(sim.Flash()), "SN0006");
  lines = JsonLines(log);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[5]["result"], 15);
  EXPECT_EQ(lines[5]["written"], nullptr);
  EXPECT_EQ(lines[6]["written"]["serial"], "SN0006");

  // 9994 numbers are left (SN0007..SN9999 after this one): not ten thousand.
  const std::size_t events = sim.Events().size();
  o = Batch({"--count", "10000"});
  EXPECT_EQ(o.status, 16);
  EXPECT_EQ(sim.Events().size(), events) << "nothing sent";
  EXPECT_EQ(JsonLines(state), (std::vector<json>{{{"first", "SN0001"}, {"next", "SN0007"}}}));
  o = Cli({"--board", "127.0.0.1", "batch", path, "--serial-from", "SERIAL", "--state", state, "--log", log});
  EXPECT_EQ(o.status, 64);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(sim.Events().size(), events) << "nothing sent";
}

// A board that still answers with what was just written to it is the same
// board, however long it stays: the batch waits for it to go, and says so.
TEST(Batch, TheBoardJustProgrammedIsNotTheNextOne) {
  TempFiles files;
  const std::string path = files.Write("image.s19", S19({{0x4000, Pattern(64, 7)}}));
  SimBoard sim;  // one board, whose loader stays after its lock
  START_SIM(sim, UdpBoard());
  ClearInterrupt();
  const Outcome o = Cli({"--board", "127.0.0.1", "--json", "batch", path, "--serial-from", "SN0001", "--state",
                         files.Path("state.json"), "--log", files.Path("line.log"), "--count", "2", "--wait-seconds",
                         "1"});
  EXPECT_EQ(o.status, 10) << o.err;
  const json r = JsonLinesOf(o.out).back();
  EXPECT_EQ(r["programmed"], 1);
  EXPECT_EQ(r["message"], "The board still answers after 1 s");
  EXPECT_EQ(SerialOnBoard(sim.Flash()), "SN0001");
}

}  // namespace
