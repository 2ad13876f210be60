// tovrin-cli on a station with several network ports, in-process against
// simulated boards that each sit behind a port of their own, all with the
// board's one address (tests/support/board_ports.h): --interface, and a gang
// of slots that program the boards of every port at once.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "os/stop.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/board_ports.h"

namespace {

using namespace clitest;
using nlohmann::json;

constexpr int kLongestWaitMs = 10000;

// A line of `boards` boards behind port `port`, each with a factory serial
// number that names its port: P2B01, P2B02, ...
SimOptions LineOnPort(int port, int boards) {
  SimOptions o;
  o.serial = "P" + std::to_string(port) + "B01";
  o.lineBoards = boards;
  o.resetSilenceMs = 700;  // longer than a line's three probes with these waits
  return o;
}

// The batch over every port of `ports`; its serial numbers come from STATE
// unless `more` names a --db.
std::vector<std::string> Batch(const TempFiles& files, const std::string& image, const BoardPorts& ports,
                               std::vector<std::string> more) {
  std::vector<std::string> args = {"--json", "batch", image, "--serial-from", "SN0001", "--log",
                                   files.Path("line.jsonl")};
  if (std::find(more.begin(), more.end(), "--db") == more.end()) {
    args.insert(args.end(), {"--state", files.Path("line.state")});
  }
  for (int port = 1; port <= ports.Count(); ++port) {
    args.push_back("--interface");
    args.push_back(ports.Name(port));
  }
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// With the same address behind both ports, a run through port 2 reaches the
// board on port 2 and nothing reaches the other, over either transport.
TEST(Interface, ReachesTheBoardOnItsPortAndNoOther) {
  TempFiles files;
  const Runs runs = {{0x4000, Pattern(128, 7)}};
  const std::string image = files.Write("image.s19", S19(runs));
  for (const bool udp : {true, false}) {
    SCOPED_TRACE(udp ? "UDP" : "TCP");
    const SimOptions board = udp ? UdpBoard() : TcpBoard();
    BoardPorts ports({board, board});
    ASSERT_EQ(ports.Error(), "");
    const Outcome o = Cli({"program", image, "--serial", "G2", "--interface", ports.Name(2), "--json"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    const json r = o.Json();
    EXPECT_EQ(r["interface"], ports.Name(2));
    EXPECT_EQ(r["link"], udp ? "UDP" : "TCP");
    EXPECT_EQ(ports.Board(2).Flash(), Expected(runs, "G2", 'B'));
    EXPECT_TRUE(ports.Board(1).Events().empty()) << "the board on the other port heard nothing";
  }
}

// A port that is not there, one that is down, or one named twice: refused as a
// usage error, with the ports there are, before anything is sent.
TEST(Interface, UnusablePortIsAUsageErrorBeforeAnythingIsSent) {
  TempFiles files;
  const std::string image = files.Write("image.s19", S19({{0x4000, Pattern(64, 9)}}));
  BoardPorts ports({UdpBoard()});
  ASSERT_EQ(ports.Error(), "");
  ASSERT_TRUE(ports.Ip({"link", "add", "spare", "type", "veth", "peer", "name", "spare2"}));  // left down
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> said;
  } cases[] = {
      {{"identity", "--interface", "eth9"}, {"--interface eth9: no network interface eth9", "gang1", "spare (down)"}},
      {{"program", image, "--interface", "spare"}, {"the network interface spare is down"}},
      {{"batch", image, "--serial-from", "SN1", "--state", files.Path("s"), "--log", files.Path("l"), "--interface",
        ports.Name(1), "--interface", ports.Name(1)},
       {"is given twice"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const Outcome o = Cli(c.args);
    EXPECT_EQ(o.status, 64);
    EXPECT_EQ(o.out, "");
    for (const std::string& words : c.said) EXPECT_NE(o.err.find(words), std::string::npos) << o.err;
  }
  EXPECT_TRUE(ports.Board(1).Events().empty()) << "nothing sent";
  ports.Ip({"link", "del", "spare"}, false);
}

// Four ports, three boards after each other on each: one command programs all
// twelve, each slot only the boards of its own port, with twelve serial numbers
// never handed out twice; every record and trace line names its slot and port.
TEST(Gang, ProgramsEveryPortsBoardsWithDistinctSerialNumbers) {
  TempFiles files;
  const Runs runs = {{0x4000, Pattern(256, 8)}};
  const std::string image = files.Write("image.s19", S19(runs));
  BoardPorts ports({LineOnPort(1, 3), LineOnPort(2, 3), LineOnPort(3, 3), LineOnPort(4, 3)});
  ASSERT_EQ(ports.Error(), "");
  const std::string trace = files.Path("trace.jsonl");
  ClearInterrupt();
  const Outcome o = Cli(Batch(files, image, ports, {"--count", "12", "--wait-seconds", "10", "--trace", trace}));
  ASSERT_EQ(o.status, 0) << o.out << o.err;

  const std::vector<json> out = JsonLinesOf(o.out);
  ASSERT_EQ(out.size(), 13u) << "a record per board, then the summary";
  const json& summary = out.back();
  EXPECT_EQ(summary["programmed"], 12);
  EXPECT_EQ(summary["failed"], 0);
  ASSERT_EQ(summary["slots"].size(), 4u);
  std::set<std::string> serials;
  for (std::size_t i = 0; i < 12; ++i) {
    const json& r = out[i];
    const int slot = r["slot"].get<int>();
    SCOPED_TRACE("record " + std::to_string(i + 1));
    EXPECT_EQ(r["interface"], ports.Name(slot));
    const std::string before = r["identity_before"]["serial"];
    EXPECT_EQ(before.substr(0, 2), "P" + std::to_string(slot)) << "a slot meets only its own port's boards";
    const std::string serial = r["written"]["serial"];
    serials.insert(serial);
    const int board = std::stoi(before.substr(3));
    EXPECT_EQ(ports.Board(slot).BoardFlash(board), Expected(runs, serial, 'B')) << serial;
  }
  EXPECT_EQ(serials.size(), 12u);
  EXPECT_EQ(*serials.begin(), "SN0001");
  EXPECT_EQ(*serials.rbegin(), "SN0012");
  for (int port = 1; port <= 4; ++port) {
    EXPECT_EQ(summary["slots"][port - 1]["programmed"], 3) << port;
    EXPECT_TRUE(ports.Board(port).Locked()) << "port " << port << "'s last board locked";
  }
  const std::vector<json> logged = JsonLines(files.Path("line.jsonl"));
  ASSERT_EQ(logged.size(), 12u);
  for (const json& r : logged) EXPECT_EQ(r["interface"], ports.Name(r["slot"].get<int>()));
  const std::vector<json> traced = JsonLines(trace);
  ASSERT_GT(traced.size(), 12u);
  for (const json& t : traced) EXPECT_EQ(t["interface"], ports.Name(t["slot"].get<int>()));
}

// The slots of a station share one SQLite database: every board gets a number
// of its own, each run is recorded with its port, and each slot keeps a capture
// of its own traffic.
TEST(Gang, SlotsShareOneStationDatabaseAndKeepACaptureEach) {
  TempFiles files;
  const Runs runs = {{0x4000, Pattern(128, 11)}};
  const std::string image = files.Write("image.s19", S19(runs));
  BoardPorts ports({LineOnPort(1, 2), LineOnPort(2, 2)});
  ASSERT_EQ(ports.Error(), "");
  const std::string db = files.Path("station.db");
  ASSERT_EQ(Cli({"db", "init", db}).status, 0);
  const std::string capture = files.Path("run.pcap");
  ClearInterrupt();
  const Outcome o =
      Cli(Batch(files, image, ports, {"--db", db, "--count", "4", "--wait-seconds", "10", "--pcap", capture}));
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(JsonLinesOf(o.out).back()["programmed"], 4);

  const Outcome report = Cli({"db", "report", "--db", db, "--json"});
  ASSERT_EQ(report.status, 0) << report.err;
  std::set<std::string> serials;
  std::set<std::string> slots;
  const json recorded = report.Json();
  for (const json& run : recorded["runs"]) {
    serials.insert(run["serial"].get<std::string>());
    slots.insert(run["slot"].get<std::string>());
    EXPECT_EQ(run["result"], "programmed");
  }
  EXPECT_EQ(serials.size(), 4u);
  EXPECT_EQ(slots, (std::set<std::string>{ports.Name(1), ports.Name(2)}));
  for (int slot = 1; slot <= 2; ++slot) {
    EXPECT_GT(TempFiles::Read(files.Path("run-slot" + std::to_string(slot) + ".pcap")).size(), 24u) << slot;
  }
}

// A board that refuses a frame, or falls silent mid-run, fails its slot's run
// alone: the other slots program every board of theirs.
TEST(Gang, ASlotWhoseBoardFailsFailsAlone) {
  TempFiles files;
  const Runs runs = {{0x4000, Pattern(256, 10)}};
  const std::string image = files.Write("image.s19", S19(runs));
  struct Case {
    const char* name;
    void (*fault)(SimFaults&);
  } cases[] = {
      {"refuses a frame", [](SimFaults& f) { f.nakAtProgramFrame = 3; }},
      {"falls silent", [](SimFaults& f) { f.silentAfterProgramFrames = 2; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions failing = LineOnPort(2, 2);
    c.fault(failing.faults);
    BoardPorts ports({LineOnPort(1, 2), failing, LineOnPort(3, 2)});
    ASSERT_EQ(ports.Error(), "");
    ClearInterrupt();
    const Outcome o = Cli(Batch(files, image, ports, {"--wait-seconds", "2"}));
    const std::vector<json> out = JsonLinesOf(o.out);
    ASSERT_EQ(out.size(), 6u) << o.out << o.err;
    std::map<int, std::vector<json>> bySlot;
    for (std::size_t i = 0; i + 1 < out.size(); ++i) bySlot[out[i]["slot"].get<int>()].push_back(out[i]);
    ASSERT_EQ(bySlot[2].size(), 1u);
    EXPECT_EQ(bySlot[2][0]["result"], 4) << "Abort Program Flash";
    for (const int slot : {1, 3}) {
      ASSERT_EQ(bySlot[slot].size(), 2u) << "slot " << slot;
      for (const json& r : bySlot[slot]) EXPECT_EQ(r["result"], 0) << "slot " << slot;
      EXPECT_EQ(ports.Board(slot).CurrentBoard(), 3) << "slot " << slot;
    }
    EXPECT_EQ(out.back()["programmed"], 4);
    EXPECT_EQ(out.back()["failed"], 1);
    EXPECT_NE(o.status, 0);
    std::remove(files.Path("line.state").c_str());
  }
}

// Ctrl+C while every slot programs: each stops at its next exchange, leaves
// its board unlocked and records the run as interrupted.
TEST(Gang, CtrlCStopsEverySlotUnlocked) {
  TempFiles files;
  const std::string image = files.Write("image.s19", S19({{0x0, Pattern(0x8000, 11)}}));  // 512 frames
  SimOptions slow = LineOnPort(1, 1);
  slow.faults.replyDelayMs = 5;
  std::vector<SimOptions> boards = {slow, slow, slow};
  for (int i = 0; i < 3; ++i) boards[static_cast<std::size_t>(i)].serial = "P" + std::to_string(i + 1) + "B01";
  BoardPorts ports(boards);
  ASSERT_EQ(ports.Error(), "");
  ClearInterrupt();
  Outcome o;
  std::thread batch([&] { o = Cli(Batch(files, image, ports, {"--wait-seconds", "10"})); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLongestWaitMs);
  const auto allProgramming = [&] {
    for (int port = 1; port <= 3; ++port) {
      if (ports.Board(port).ProgramFramesWritten() < 10) return false;
    }
    return true;
  };
  while (!allProgramming() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::raise(SIGINT);
  batch.join();
  ClearInterrupt();
  EXPECT_EQ(o.status, 130) << o.err;
  const std::vector<json> out = JsonLinesOf(o.out);
  ASSERT_EQ(out.size(), 4u) << o.out;
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(out[i]["result"], "interrupted") << "slot " << out[i]["slot"];
  for (int port = 1; port <= 3; ++port) {
    EXPECT_FALSE(ports.Board(port).Locked()) << port;
    EXPECT_LT(ports.Board(port).ProgramFramesWritten(), 512) << port;
  }
}

}  // namespace
