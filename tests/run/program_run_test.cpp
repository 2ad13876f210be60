// Whole programming runs against the simulated board, over UDP and TCP: what
// the board's flash holds afterwards, byte for byte, which frames it got, and
// what the run's report says of every outcome.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/protocol.h"
#include "run/program_run.h"
#include "tests/support/board_runs.h"
#include "tests/support/raw_socket.h"
#include "tests/support/fake_window.h"
#include "tests/support/log_text.h"
#include "tests/support/sim_helpers.h"

namespace {

class ProgramBoardTest : public testing::TestWithParam<bool> {
 protected:
  bool Udp() const { return GetParam(); }
  SimOptions Board() const { return Udp() ? UdpBoard() : TcpBoard(); }
  std::string Write(const std::string& text, const char* name = "image.s19") { return files.Write(name, text); }

  // Connects to a started board and runs ProgramBoard with that file, the
  // window's progress bar following it: the result, the file's or the run's.
  int Run(const std::string& path, const char* serial = "SN42", const char* revision = "C") {
    session.Open("127.0.0.1");
    EXPECT_EQ(session.Opened(), OpenOutcome::Open(Udp() ? LinkMode::kUdp : LinkMode::kTcp));
    ProgressBarAdapter bar(progress);
    report = ProgramBoard(session, path, {revision, serial}, bar);
    run = report.run;
    session.Close();
    return report.Programmed() ? run.result : report.file.result;
  }

  TempFiles files{"program"};
  Session session{kFastWaits};
  RunReport report;
  ProgramRun run;
  FakeProgress progress;
};

TEST_P(ProgramBoardTest, FlashAndFramesMatchTheFile) {
  struct Case {
    const char* name;
    Runs runs;
    std::vector<std::uint32_t> frames;
  } cases[] = {
      {"sparse",
       {{0x0000, Pattern(100, 1)}, {0x5003, Pattern(7, 2)}, {0x10000, Pattern(300, 3)}},
       {0x0, 0x40, 0x420, 0x5000, 0x10000, 0x10040, 0x10080, 0x100C0, 0x10100}},
      // The last frame carries 56 bytes of 0xFF in its tail.
      {"200 bytes at 0x100", {{0x100, Pattern(200, 4)}}, {0x100, 0x140, 0x180, 0x1C0, 0x420}},
      {"data at 0x1002 goes out from 0x1000", {{0x1002, Pattern(4, 5)}}, {0x420, 0x1000}},
      {"only the identity when the file is blank", {{0x2000, Bytes(256, 0xFF)}}, {0x420}},
      // After a frame at 0x1FF00 the scan meets data at 0x1FFD0: that frame
      // reaches past the flash, and what lies beyond goes out as 0xFF.
      {"frame reaching past the end", {{0x1FF00, Pattern(1, 6)}, {0x1FFD0, Pattern(48, 7)}},
       {0x420, 0x1FF00, 0x1FFD0}},
  };
  for (const Case& c : cases) {
    SimBoard sim;
    START_SIM(sim, Board());
    ASSERT_EQ(Run(Write(S19(c.runs))), kProgramDone) << c.name;
    EXPECT_EQ(Frames(sim), c.frames) << c.name;
    EXPECT_EQ(sim.Flash(), Expected(c.runs, "SN42", 'C')) << c.name;
    EXPECT_TRUE(sim.Locked()) << c.name;
  }
}

TEST_P(ProgramBoardTest, DataInTheLastBytesIsNeverSent) {
  const Runs runs = {{0x1FFF0, Pattern(16, 8)}};
  SimBoard sim;
  START_SIM(sim, Board());
  DiagnosticLog log;
  session.Watch(&log);
  ASSERT_EQ(Run(Write(S19(runs))), kProgramDone);
  EXPECT_NE(log.Text().find("16 bytes of data from 0x1FFF0 are not sent"), std::string::npos) << log.Text();
  EXPECT_EQ(Frames(sim), std::vector<std::uint32_t>{0x420});
  EXPECT_EQ(sim.Flash(), Expected({}, "SN42", 'C'));
}

TEST_P(ProgramBoardTest, FullImageGoesOutAs2047FramesWithoutTheLast64Bytes) {
  const Runs runs = {{0, Pattern(kFlashSize, 9)}};
  SimBoard sim;
  START_SIM(sim, Board());
  ASSERT_EQ(Run(Write(S19(runs))), kProgramDone);

  const auto frames = Frames(sim);
  ASSERT_EQ(frames.size(), 2047u);
  for (std::size_t i = 0; i < frames.size(); ++i) ASSERT_EQ(frames[i], 0x40 * i);
  auto expected = Expected(runs, "SN42", 'C');
  std::fill(expected.begin() + 0x1FFC0, expected.end(), 0xFF);
  EXPECT_EQ(sim.Flash(), expected);

  ASSERT_FALSE(progress.positions.empty());
  EXPECT_EQ(progress.positions.back(), 2047 + 300);
}

TEST_P(ProgramBoardTest, OperatorIdentityIsStampedOverTheFile) {
  // The file brings its own identity record, hardware code included.
  Bytes fileIdentity = {'X', 'f', 'i', 'l', 'e', 0, 0, 0, 0, 0, 'V', 'R', '9', '9', 0, 0};
  const Runs runs = {{0x400, Pattern(0x20, 10)}, {0x420, fileIdentity}};
  struct Case {
    const char* serial;
    const char* revision;
    std::string stamped;  // bytes 0x420.. after the run
  } cases[] = {
      {"12", "D", std::string("D12\0e\0\0\0\0\0VR99\0\0", 16)},
      // Twelve characters run over the hardware code.
      {"SN1234567890", "E", std::string("ESN1234567890\0\0\0", 16)},
      // An empty revision stamps a NUL; only 15 characters of a longer serial
      // number, with no NUL after them: 0x430 is the firmware's.
      {"ABCDEFGHIJKLMNOPQ", "", std::string("\0ABCDEFGHIJKLMNO", 16) + "\xFF"},
  };
  for (const Case& c : cases) {
    SimBoard sim;
    START_SIM(sim, Board());
    ASSERT_EQ(Run(Write(S19(runs)), c.serial, c.revision), kProgramDone) << c.serial;
    const auto flash = sim.Flash();
    EXPECT_EQ(std::string(flash.begin() + 0x420, flash.begin() + 0x420 + static_cast<long>(c.stamped.size())),
              c.stamped)
        << c.serial;
    EXPECT_TRUE(std::equal(flash.begin() + 0x400, flash.begin() + 0x420, runs.at(0x400).begin()));
  }
}

// Stops the run once `after` frames were acknowledged, as Ctrl+C or a window
// closed mid-run would.
class StopAfter : public ProgramObserver {
 public:
  explicit StopAfter(int after) : after_(after) {}
  void FrameAcknowledged(int index, std::uint32_t) override { acknowledged_ = index + 1; }
  bool StopRequested() override { return after_ >= 0 && acknowledged_ >= after_; }

 private:
  int after_;
  int acknowledged_ = 0;
};

// Every way a run can end on the board's side, and what its report says of it:
// where it stopped, the words the operator sees, the cause a record gives, and
// whether the frame carrying the identity stamp went out.
TEST_P(ProgramBoardTest, EveryOutcomeIsReportedWhereItHappened) {
  const Runs runs = {{0x0, Pattern(0x200, 11)}};  // eight frames, then the identity at 0x420
  const std::string path = Write(S19(runs));
  struct Case {
    const char* name;
    void (*set)(SimFaults&);
    VerifyMode verify;
    int stopAfter;      // frames acknowledged before a stop is asked for; -1: none
    int result;
    int frameRequests;  // program frames sent, the failing one included
    bool lockSent;
    std::string message;
    std::string cause;  // CauseText; empty: none
    bool stampSent;
  } cases[] = {
      {"done", [](SimFaults&) {}, VerifyMode::kNone, -1, kProgramDone, 9, true, "Download Successful", "", true},
      {"erase refused", [](SimFaults& f) { f.eraseNak = true; }, VerifyMode::kNone, -1, kProgramEraseFailed, 0, false,
       "Abort Erase Flash", "erase: board refused (0x4E instead of 0x4F)", false},
      {"third frame refused", [](SimFaults& f) { f.nakAtProgramFrame = 3; }, VerifyMode::kNone, -1,
       kProgramFrameFailed, 3, false, "Abort Program Flash", "program frame 3 at 0x00080: board refused (0x4E instead of 0x4F)",
       false},
      // Sent but not taken: the board may hold the stamp all the same.
      {"the identity's frame refused", [](SimFaults& f) { f.nakAtProgramFrame = 9; }, VerifyMode::kNone, -1,
       kProgramFrameFailed, 9, false, "Abort Program Flash",
       "program frame 9 at 0x00420: board refused (0x4E instead of 0x4F)", true},
      {"second frame echoes another address", [](SimFaults& f) { f.wrongEchoAtProgramFrame = 2; }, VerifyMode::kNone,
       -1, kProgramFrameFailed, 2, false, "Abort Program Flash",
       "program frame 2 at 0x00040: wrong echo (expected address 0x00040, received 0x00044)", false},
      {"board falls silent after four frames", [](SimFaults& f) { f.silentAfterProgramFrames = 4; }, VerifyMode::kNone,
       -1, kProgramFrameFailed, 5, false, "Abort Program Flash", "program frame 5 at 0x00100: no reply within 800 ms",
       false},
      {"lock refused", [](SimFaults& f) { f.lockNak = true; }, VerifyMode::kNone, -1, kProgramLockFailed, 9, true,
       "Abort lock flash and reset CPU", "lock: board refused (0x4E instead of 0x4F)", true},
      // Acknowledged but stored wrongly: only the read-back finds it, and the
      // board is left unlocked. The reads were answered, so there is no cause.
      {"second frame stored wrongly", [](SimFaults& f) { f.corruptProgramFrame = 2; }, VerifyMode::kFrames, -1,
       kProgramVerifyFailed, 9, false, "Verify failed at 0x00040", "", true},
      {"read-back refused by its checksum", [](SimFaults& f) { f.badReadChecksum = true; }, VerifyMode::kFrames, -1,
       kProgramVerifyFailed, 9, false, "Verify failed at 0x00000",
       "read frame 1 at 0x00000: malformed reply (checksum does not match)", true},
      {"stopped after three frames", [](SimFaults&) {}, VerifyMode::kNone, 3, kProgramInterrupted, 3, false,
       "Programming interrupted", "program frame 4 at 0x000C0: stopped by Ctrl+C before it was sent; the board is not locked",
       false},
      {"stopped before the read-back", [](SimFaults&) {}, VerifyMode::kFrames, 9, kProgramInterrupted, 9, false,
       "Programming interrupted", "read frame 1 at 0x00000: stopped by Ctrl+C before it was sent; the board is not locked",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions options = Board();
    c.set(options.faults);
    SimBoard sim;
    START_SIM(sim, options);
    session.Open("127.0.0.1");
    StopAfter stop(c.stopAfter);
    report = ProgramBoard(session, path, {"C", "SN42", c.verify}, stop);
    report.stoppedBy = "Ctrl+C";  // who a front end says asked for a stop
    session.Close();
    EXPECT_EQ(report.run.result, c.result);
    // No frame follows a failed one, and a run that did not lock says so.
    EXPECT_EQ(static_cast<int>(Frames(sim, false).size()), c.frameRequests);
    EXPECT_EQ(AnyCommand(sim, 'l'), c.lockSent);
    EXPECT_EQ(sim.Locked(), c.result == kProgramDone);
    EXPECT_EQ(RunMessage(report), c.message);
    const auto cause = CauseOf(report);
    EXPECT_EQ(cause ? CauseText(*cause) : "", c.cause);
    EXPECT_EQ(report.run.stampSent, c.stampSent);
    EXPECT_EQ(report.Interrupted(), c.result == kProgramInterrupted);
  }
}

// An erase that did nothing leaves the bytes of the last image where the new one
// has none: reading back the frames cannot see them, reading the whole flash can.
TEST_P(ProgramBoardTest, OnlyAFullReadBackFindsWhatAnIgnoredEraseLeft) {
  SimOptions options = Board();
  options.faults.eraseIgnored = true;
  SimBoard sim;
  START_SIM(sim, options);
  const Runs before = {{0x8000, Pattern(0x100, 12)}};
  ASSERT_EQ(Run(Write(S19(before), "before.s19")), kProgramDone);
  const std::string after = Write(S19({{0x10000, Pattern(0x40, 13)}}), "after.s19");
  struct Case {
    VerifyMode verify;
    std::string message;
  } cases[] = {
      {VerifyMode::kFrames, "Download Successful"},
      {VerifyMode::kFull, "Verify failed at 0x08000"},
  };
  for (const Case& c : cases) {
    session.Open("127.0.0.1");
    ProgramObserver quiet;
    report = ProgramBoard(session, after, {"C", "SN42", c.verify}, quiet);
    session.Close();
    EXPECT_EQ(RunMessage(report), c.message);
  }
}

TEST_P(ProgramBoardTest, BadFilesEndTheRunBeforeAnythingIsSent) {
  std::string badChecksum = S3(0x100, {1, 2, 3});
  badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
  const std::string huge = files.Path("huge.s19");
  std::ofstream(huge) << S19({{0x100, Pattern(4, 1)}});
  std::filesystem::resize_file(huge, kMaxFirmwareBytes + 1);
  struct Case {
    const char* name;
    std::string path;
    int result;
    const char* log;  // part of what the run logs
  };
  std::vector<Case> cases = {
      {"missing file", files.Path("no-such.s19"), kProgramFileNotOpened, "No such file"},
      {"data beyond the flash", Write(S3(0x1FFFE, {1, 2, 3}) + "\n", "beyond.s19"), kProgramDataError, "Address"},
      {"wrong checksum", Write(badChecksum + "\n", "checksum.s19"), kProgramChecksumError, "Check Sum"},
      {"empty file", Write("", "empty.s19"), kProgramDataError, "no S3 record"},
      {"binary", Write(std::string("\x7F" "ELF\x02\x01\0\0", 8), "a.bin"), kProgramDataError, "no S3 record"},
      {"only S1 records", Write(SRecord('1', 0x100, {1, 2}) + "\n", "s1.s19"), kProgramDataError, "no S3 record"},
      {"folder", files.Path(""), kProgramFileNotOpened, "a folder"},
      {"over 64 MiB", huge, kProgramDataError, "larger than 64 MiB"},
  };
#ifndef _WIN32
  const std::string fifo = files.Path("fifo.s19");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // no writer: reading it would wait for good
  cases.push_back({"FIFO", fifo, kProgramFileNotOpened, "a FIFO"});
  cases.push_back({"device", "/dev/zero", kProgramFileNotOpened, "a device"});
#endif
  for (const Case& c : cases) {
    SimBoard sim;
    START_SIM(sim, Board());
    DiagnosticLog log;
    session.Watch(&log);
    ASSERT_EQ(Run(c.path), c.result) << c.name;
    EXPECT_EQ(sim.Events().size(), Udp() ? 2u : 1u) << c.name << ": only the Connect's probe and identity read";
    EXPECT_NE(log.Text().find(c.log), std::string::npos) << c.name << ": " << log.Text();
  }
}

TEST_P(ProgramBoardTest, ProgressFollowsTheFileSizeAndTheFrames) {
  // A 12000-byte file: a range of 100 steps of 120 bytes.
  std::string text = S19({{0x800, Pattern(0x100, 12)}});
  text += std::string(12000 - text.size() - 1, ' ') + "\n";
  ASSERT_EQ(text.size(), 12000u);
  SimBoard sim;
  START_SIM(sim, Board());
  ASSERT_EQ(Run(Write(text)), kProgramDone);
  EXPECT_EQ(progress.ranges, std::vector<int>{100});
  // The identity frame and four frames of data: positions 0..4, then 5 + 300.
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 1, 2, 3, 4, 305}));
}

TEST_P(ProgramBoardTest, ProgressRangeOfAHugeFileIsClampedNotWrapped) {
  std::string text = S19({{0x800, Pattern(8, 13)}});
  text += std::string(65536 * 120 - text.size(), '\n');
  SimBoard sim;
  START_SIM(sim, Board());
  ASSERT_EQ(Run(Write(text)), kProgramDone);
  EXPECT_EQ(progress.ranges, std::vector<int>{65535});
}

INSTANTIATE_TEST_SUITE_P(Transport, ProgramBoardTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "Udp" : "Tcp"; });

TEST(ProgramBoardLossyUdp, LossesAndStaleRepliesStillGiveTheExactFlash) {
  const Runs runs = {{0x0, Pattern(0x3000, 14)}, {0x1C000, Pattern(0x800, 15)}};
  struct Case {
    const char* name;
    void (*set)(SimFaults&);
  } cases[] = {
      {"every third reply lost", [](SimFaults& f) { f.dropEveryNthUdpReply = 3; }},
      {"every reply twice", [](SimFaults& f) { f.duplicateReplies = true; }},
      {"stale datagram before each reply", [](SimFaults& f) { f.staleBeforeReply = true; }},
      {"foreign datagram before each reply", [](SimFaults& f) { f.foreignBeforeReply = true; }},
      {"slow erase", [](SimFaults& f) { f.eraseDelayMs = 400; }},
  };
  TempFiles files{"lossy"};
  const std::string path = files.Write("lossy.s19", S19(runs));
  // Under Wine a socket bound to 127.0.0.2 sends from 127.0.0.1: a foreign sender
  // cannot be played there.
  const bool sendersDistinct = raw::LoopbackSendersDistinct();
  for (const Case& c : cases) {
    if (std::string(c.name).starts_with("foreign") && !sendersDistinct) continue;
    SimOptions options = UdpBoard();
    c.set(options.faults);
    SimBoard sim;
    START_SIM(sim, options);
    Session session{kFastWaits};
    session.Open("127.0.0.1");
    ASSERT_EQ(session.Opened(), OpenOutcome::Open(LinkMode::kUdp)) << c.name;
    ProgramObserver quiet;
    EXPECT_TRUE(ProgramBoard(session, path, {"L", "LOSSY"}, quiet).Succeeded()) << c.name;
    EXPECT_EQ(sim.Flash(), Expected(runs, "LOSSY", 'L')) << c.name;
  }
}

// Sessions share nothing: two boards at two addresses programmed at the same
// time from two threads each get their own image and serial number, byte for
// byte, whatever the other's link does meanwhile.
TEST(ProgramSessions, TwoBoardsAtOnceFromTwoThreads) {
  if (!raw::LoopbackSendersDistinct()) GTEST_SKIP() << "a second loopback address cannot be played here (Wine)";
  TempFiles files{"sessions"};
  struct Board {
    const char* address;
    Runs runs;
    const char* serial;
    SimBoard sim;
    bool done = false;
  } boards[2] = {{"127.0.0.1", {{0x1000, Pattern(0x4000, 21)}}, "LEFT-1", {}},
                 {"127.0.0.2", {{0x9000, Pattern(0x4000, 22)}}, "RIGHT-2", {}}};
  std::vector<std::thread> threads;
  for (Board& b : boards) {
    SimOptions options = UdpBoard();
    options.bindAddress = b.address;
    options.faults.dropEveryNthUdpReply = 7;  // resends on both links at once
    START_SIM(b.sim, options);
    const std::string path = files.Write(std::string(b.serial) + ".s19", S19(b.runs));
    threads.emplace_back([&b, path] {
      Session session{kFastWaits};
      session.Open(b.address);
      ProgramObserver quiet;
      b.done = ProgramBoard(session, path, {"S", b.serial}, quiet).Succeeded();
    });
  }
  for (std::thread& t : threads) t.join();
  for (Board& b : boards) {
    EXPECT_TRUE(b.done) << b.address;
    EXPECT_EQ(b.sim.Flash(), Expected(b.runs, b.serial, 'S')) << b.address;
  }
}

// The example file carries the board's own hardware code at 0x42A, so a board
// programmed with it is still the model it was.
TEST(ProgramBoardExample, DemoFileKeepsTheBoardsModel) {
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  Session session{kFastWaits};
  session.Open("127.0.0.1");
  ProgramObserver quiet;
  ASSERT_TRUE(ProgramBoard(session, TOVRIN_SOURCE_DIR "/examples/varnel-demo.s19", {"D", "DEMO"}, quiet).Succeeded());
  const auto flash = sim.Flash();
  EXPECT_EQ(std::string(flash.begin() + 0x42A, flash.begin() + 0x42E), "VR32");
}

// With the board's own waits, including the pause while the board resets.
TEST(ProgramBoardRealWaits, RunsOverBothTransports) {
  const Runs runs = {{0x4000, Pattern(0x400, 16)}};
  TempFiles files{"real"};
  const std::string path = files.Write("real.s19", S19(runs));
  for (bool udp : {true, false}) {
    SimOptions options = udp ? UdpBoard() : TcpBoard();
    options.bindAddress = "192.168.167.100";
    SimBoard sim;
    START_SIM(sim, options);
    Session session;
    session.Open("192.168.167.100");
    ASSERT_EQ(session.Opened(), OpenOutcome::Open(udp ? LinkMode::kUdp : LinkMode::kTcp));
    ProgramObserver quiet;
    EXPECT_TRUE(ProgramBoard(session, path, {"R", "REAL"}, quiet).Succeeded());
    EXPECT_EQ(sim.Flash(), Expected(runs, "REAL", 'R'));
  }
}

}  // namespace
