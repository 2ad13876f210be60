// A slot of the production line against the simulated board, with no front
// end: every way a board can end, what the slot tells its observer, what the
// store is told, and what it does to the line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line/line_run.h"
#include "line/slot.h"
#include "tests/support/board_runs.h"
#include "tests/support/sim_helpers.h"

namespace {

// A store that hands out SN0001, SN0002, ... and keeps what it was told; it
// can say a board's number was handed out, or fail to hand one out.
class TestStore : public SerialStore {
 public:
  bool repeat = false;                          // every board's number was handed out before
  StoreFailure allocateFails = StoreFailure::kNone;
  std::vector<RunEnd> finished;
  std::vector<StoredRun> recorded;
  int allocated = 0;

  const char* Kind() const override { return "test"; }
  StoreError UseRange(const std::string&) override { return {}; }
  StoreError Next(NextSerialInfo& info) override {
    info.next = Serial(allocated + 1);
    info.left = 100;
    return {};
  }
  StoreError Allocate(const BoardClaim&, Allocation& allocation) override {
    if (allocateFails != StoreFailure::kNone) return {allocateFails, "the disk is gone"};
    allocation = {++allocated, Serial(allocated), {}};
    return {};
  }
  StoreError AllocateGiven(const std::string&, const BoardClaim&, Allocation&, GivenCheck&) override {
    return Unsupported();
  }
  StoreError CheckGiven(const std::string&, GivenCheck&) override { return Unsupported(); }
  StoreError Finish(const Allocation&, const RunEnd& end) override {
    finished.push_back(end);
    return {};
  }
  StoreError RecordRun(const StoredRun& run) override {
    recorded.push_back(run);
    return {};
  }
  StoreError HandedOut(const std::string&, bool& handedOut) override {
    handedOut = repeat;
    return {};
  }
  StoreError Pending(std::vector<AllocationRow>&) override { return Unsupported(); }
  StoreError Release(const std::string&, const std::string&, AllocationRow&) override { return Unsupported(); }
  StoreError Report(const ReportFilter&, std::vector<RunRow>&) override { return Unsupported(); }
  StoreError Find(const std::string&, std::vector<AllocationRow>&, std::vector<RunRow>&) override {
    return Unsupported();
  }
  StoreError ImportState(const std::string&) override { return Unsupported(); }

 private:
  static std::string Serial(int n) { return "SN000" + std::to_string(n); }
  static StoreError Unsupported() { return {StoreFailure::kUnsupported, "not here"}; }
};

// The slot's events by name, the board's end, and a stop asked for at a frame.
class Events : public SlotObserver {
 public:
  Events(LineStopFlag& stop, int stopAtFrame, bool stopWhenDone = false)
      : stop_(stop), stopAtFrame_(stopAtFrame), stopWhenDone_(stopWhenDone) {}
  std::string names;
  BoardResult board;
  SlotFigures figures;

  void Waiting(const SlotId&, const std::string&) override { names += "waiting "; }
  void BoardSeen(const SlotId&, LinkMode, bool, const IdentityTexts&) override { names += "seen "; }
  void Programming(const SlotId&, LinkMode, const IdentityTexts&, const std::string&) override {
    names += "programming ";
  }
  void FrameAcknowledged(const SlotId&, int index, std::uint32_t) override {
    if (index + 1 == stopAtFrame_) stop_.Request("the operator");
  }
  void BoardDone(const SlotId&, const BoardResult& result, const RunReport&, const Json&) override {
    names += "done ";
    board = result;
    if (stopWhenDone_) stop_.Request("the test");
  }
  void Ended(const SlotId&, const SlotFigures& f) override {
    names += "ended";
    figures = f;
  }

 private:
  LineStopFlag& stop_;
  int stopAtFrame_;
  bool stopWhenDone_;
};

class Records : public RecordSink {
 public:
  std::vector<Json> lines;
  std::string Append(const Json& record) override {
    lines.push_back(record);
    return "";
  }
};

// A line of boards at the simulated board's address, with short waits.
LineConfig TestLine(const TempFiles& files) {
  LineConfig config;
  config.file = files.Write("image.s19", S19({{0x4000, Pattern(200, 5)}}));
  config.serialFrom = "SN0001";
  config.board = "127.0.0.1";
  config.waits = kFastWaits;
  config.waitSeconds = 5;
  return config;
}

// Every way one board can end on a slot, one row each.
TEST(Slot, EachWayABoardEndsIsToldStoredAndEndsTheLineOnlyWhenItMust) {
  TempFiles files("line");
  LineConfig config = TestLine(files);
  config.count = 1;
  struct Case {
    const char* name;
    SimFaults faults;
    std::string expectHardware;
    bool repeat;
    StoreFailure allocateFails;
    int stopAtFrame;
    BoardOutcome outcome;
    Refusal refusal;
    int finishes;      // runs ended on an allocation
    bool stampSent;    // as the store was told: the number stays with the board
    LineEnding ending;
    bool locked;
  };
  SimFaults none;
  SimFaults eraseNak;
  eraseNak.eraseNak = true;
  SimFaults nakAfterStamp;  // frame 1 is the identity's (0x420), frame 2 the first at 0x4000
  nakAfterStamp.nakAtProgramFrame = 2;
  const Case cases[] = {
      {"passed", none, "", false, StoreFailure::kNone, 0, BoardOutcome::kPassed, Refusal::kNone, 1, true,
       LineEnding::kNone, true},
      {"failed before the identity frame", eraseNak, "", false, StoreFailure::kNone, 0, BoardOutcome::kFailed,
       Refusal::kNone, 1, false, LineEnding::kNone, false},
      {"failed after the identity frame", nakAfterStamp, "", false, StoreFailure::kNone, 0, BoardOutcome::kFailed,
       Refusal::kNone, 1, true, LineEnding::kNone, false},
      {"refused for its hardware", none, "XX99", false, StoreFailure::kNone, 0, BoardOutcome::kRefused,
       Refusal::kWrongHardware, 0, false, LineEnding::kNone, false},
      {"refused as a repeat", none, "", true, StoreFailure::kNone, 0, BoardOutcome::kRefused, Refusal::kRepeat, 0,
       false, LineEnding::kNone, false},
      {"the store failing", none, "", false, StoreFailure::kUnusable, 0, BoardOutcome::kRefused,
       Refusal::kStoreUnusable, 0, false, LineEnding::kStoreUnusable, false},
      {"stopped", none, "", false, StoreFailure::kNone, 2, BoardOutcome::kStopped, Refusal::kNone, 1, true,
       LineEnding::kNone, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions board = UdpBoard();
    board.faults = c.faults;
    SimBoard sim;
    START_SIM(sim, board);
    config.expectHardware = c.expectHardware;
    TestStore store;
    store.repeat = c.repeat;
    store.allocateFails = c.allocateFails;
    Records records;
    ProductionLine line(config, store, "the test's store", /*keepsRecords=*/true, &records);
    const LineOpening opening = OpenLine(config, store);
    ASSERT_TRUE(opening.Opened()) << opening.endingText;
    LineStopFlag stop;
    Events events(stop, c.stopAtFrame);
    const SlotFigures figures = RunSlot({0, ""}, opening.file, line, events, stop, nullptr);

    EXPECT_EQ(events.board.outcome, c.outcome);
    EXPECT_EQ(events.names, c.outcome == BoardOutcome::kRefused ? "waiting seen done ended"
                                                                : "waiting seen programming done ended");
    ASSERT_EQ(records.lines.size(), 1u) << "every board met leaves one record";
    if (c.refusal != Refusal::kNone) {
      EXPECT_EQ(records.lines[0]["result"], RefusalResult(c.refusal));
    }
    EXPECT_EQ(store.finished.size(), static_cast<std::size_t>(c.finishes));
    EXPECT_EQ(store.recorded.size(), static_cast<std::size_t>(1 - c.finishes)) << "a board without a number";
    if (!store.finished.empty()) {
      EXPECT_EQ(store.finished[0].stampSent, c.stampSent);
    }
    EXPECT_EQ(line.Ending(), c.ending);
    EXPECT_EQ(sim.Locked(), c.locked);
    EXPECT_EQ(figures.passed, c.outcome == BoardOutcome::kPassed ? 1 : 0);
    EXPECT_EQ(figures.failed, c.outcome == BoardOutcome::kPassed ? 0 : 1);
    EXPECT_EQ(events.figures.passed, figures.passed);
    if (c.outcome == BoardOutcome::kPassed) {
      EXPECT_EQ(events.board.serial, "SN0001");
      EXPECT_GT(events.board.times.framesSeconds + events.board.times.eraseSeconds, 0.0);
    }
    if (c.outcome == BoardOutcome::kStopped) {
      EXPECT_NE(records.lines[0].dump().find("the operator"), std::string::npos) << "who stopped it is recorded";
    }
  }
}

// A board that failed after its identity frame comes back carrying the number
// that run stamped, which the store knows as handed out: it is a retry, not a
// repeat, gets programmed, and counts once in the first-pass yield.
TEST(Line, ABoardThatFailedHereIsRetriedNotRefusedAndCountsOnce) {
  TempFiles files("retry");
  const LineConfig config = TestLine(files);
  TestStore store;
  Records records;
  ProductionLine line(config, store, "the test's store", true, &records);
  const LineOpening opening = OpenLine(config, store);
  ASSERT_TRUE(opening.Opened()) << opening.endingText;

  std::vector<SlotFigures> slots;
  std::string stamped;  // the identity record the failed run left on the board
  {
    SimOptions failing = UdpBoard();
    failing.faults.nakAtProgramFrame = 2;  // after the identity frame
    SimBoard sim;
    START_SIM(sim, failing);
    LineStopFlag stop;
    Events events(stop, 0, true);
    slots.push_back(RunSlot({0, ""}, opening.file, line, events, stop, nullptr));
    ASSERT_EQ(events.board.outcome, BoardOutcome::kFailed);
    const std::vector<std::uint8_t> flash = sim.Flash();
    stamped.assign(flash.begin() + 0x420, flash.begin() + 0x430);
  }
  store.repeat = true;  // SN0001 was handed out: any board carrying it is a repeat, but for this one
  SimOptions back = UdpBoard();
  back.identityRecord = stamped;
  SimBoard sim;
  START_SIM(sim, back);
  LineStopFlag stop;
  Events events(stop, 0, true);
  slots.push_back(RunSlot({0, ""}, opening.file, line, events, stop, nullptr));
  EXPECT_EQ(events.board.outcome, BoardOutcome::kPassed) << events.board.message;
  EXPECT_TRUE(events.board.retry);
  EXPECT_EQ(events.board.serial, "SN0002");
  const LineFigures figures = FiguresOf(slots, 1);
  EXPECT_EQ(figures.passed, 1);
  EXPECT_EQ(figures.failed, 1);
  EXPECT_EQ(figures.retries, 1);
  EXPECT_EQ(figures.FirstPassYield(), 0.0) << "one board met, and it failed its first attempt";
}

}  // namespace
