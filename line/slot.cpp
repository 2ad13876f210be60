#include "line/slot.h"

#include <chrono>
#include <memory>

#include "common/text.h"
#include "run/board_checks.h"
#include "os/host.h"
#include "run/board_wait.h"
#include "run/program_run.h"

namespace {

constexpr std::int64_t kMsPerSecond = 1000;

// The run's progress to the slot's observer; the front end's stop ends it.
class SlotProgress : public ProgramObserver {
 public:
  SlotProgress(const SlotId& slot, SlotObserver& observer, const LineStop& stop)
      : slot_(slot), observer_(observer), stop_(stop) {}
  void RunStarted(int frames) override { observer_.RunStarted(slot_, frames); }
  void FrameAcknowledged(int index, std::uint32_t address) override {
    observer_.FrameAcknowledged(slot_, index, address);
  }
  void RunEnded(int result, int framesAcknowledged) override { observer_.RunEnded(slot_, result, framesAcknowledged); }
  bool StopRequested() override { return stop_.Requested(); }

 private:
  const SlotId& slot_;
  SlotObserver& observer_;
  const LineStop& stop_;
};

// A board turned away before its erase, with why and its words.
void Refuse(RunReport& report, Refusal refusal, std::string message) {
  report.stage = RunStage::kRefused;
  report.refusal = refusal;
  report.refusalMessage = std::move(message);
}

// The checks a board passes before its erase: its model, and a serial number
// for it from the line. `ending` when no board on any slot can be served.
bool Admit(ProductionLine& line, const std::string& slotName, RunReport& report, Allocation& allocation,
           LineEnding& ending) {
  if (!CheckHardware(report, line.Config().expectHardware)) return false;
  const SerialGrant grant = line.GrantSerial(report, slotName);
  if (grant.allocation.serial.empty()) {
    ending = grant.ending;
    Refuse(report, grant.refusal, grant.message);
    return false;
  }
  allocation = grant.allocation;
  return true;
}

BoardOutcome OutcomeOf(const RunReport& report) {
  if (report.Succeeded()) return BoardOutcome::kPassed;
  if (report.Interrupted()) return BoardOutcome::kStopped;
  if (report.stage == RunStage::kRefused) return BoardOutcome::kRefused;
  return BoardOutcome::kFailed;
}

BoardResult ResultOf(const RunReport& report, const std::string& serial, bool retry, double seconds) {
  BoardResult board;
  board.outcome = OutcomeOf(report);
  board.serial = serial;
  board.message = RunMessage(report);
  if (const auto cause = CauseOf(report)) board.cause = CauseText(*cause);
  board.retry = retry;
  board.times.seconds = seconds;
  board.times.connectSeconds = report.connectSeconds;
  board.times.programSeconds = report.programSeconds;
  board.times.eraseSeconds = report.run.times.eraseSeconds;
  board.times.framesSeconds = report.run.times.framesSeconds;
  board.times.verifySeconds = report.run.times.verifySeconds;
  board.times.lockSeconds = report.run.times.lockSeconds;
  return board;
}

// Closes the session's link if open; a close the socket library refuses is
// told, and changes no outcome.
void CloseSlotSession(Session& session, const SlotId& slot, SlotObserver& observer) {
  if (!session.Link().IsOpen()) return;
  const int closed = session.Close();
  if (closed != 0) observer.Problem(slot, SlotProblem::kCloseRefused, MessageText(ConnectFailedMessage(closed)));
}

// What the slot's links say: the exchanges to the trace and capture, the
// diagnostic lines to the slot's observer.
class SlotLink : public LinkObserver {
 public:
  SlotLink(const SlotId& slot, SlotObserver& observer, LinkObserver* wireFiles)
      : slot_(slot), observer_(observer), wireFiles_(wireFiles) {}
  void Idle() override {
    if (wireFiles_ != nullptr) wireFiles_->Idle();
  }
  void Trace(const LinkTraceEvent& event) override {
    if (wireFiles_ != nullptr) wireFiles_->Trace(event);
  }
  void Diagnostic(const std::string& line) override { observer_.Diagnostic(slot_, MessageText(line)); }

 private:
  const SlotId& slot_;
  SlotObserver& observer_;
  LinkObserver* wireFiles_;
};

}  // namespace

SlotFigures RunSlot(const SlotId& slot, const FirmwareFile& image, ProductionLine& line, SlotObserver& observer,
                    const LineStop& stop, LinkWatch* wireFiles) {
  const LineConfig& config = line.Config();
  SlotFigures sum;
  const LinkWaits waits = LineWaits(config.waits);
  const std::int64_t waitMs = std::int64_t{config.waitSeconds} * kMsPerSecond;
  SlotLink linkObserver(slot, observer, wireFiles != nullptr ? wireFiles->ForSlot(slot.index, slot.port) : nullptr);
  // A slot stops waiting when a stop is asked for, when the line ends, or when
  // the boards asked for have all been met.
  const auto stopWaiting = [&] { return stop.Requested() || line.Ended() || line.AllClaimed(); };
  const auto newSession = [&] {
    return std::make_unique<Session>(SessionConfig{waits, slot.port, &linkObserver});
  };
  SlotProgress progress(slot, observer, stop);
  const PortChange portChange = [&](bool down) { observer.PortChanged(slot, down); };

  // A board that answered while the last one was still being watched go.
  std::unique_ptr<Session> arrived;
  for (;;) {
    std::unique_ptr<Session> session = std::move(arrived);
    if (!session) {
      session = newSession();
      observer.Waiting(slot, line.NextSerial());
      const BoardWait came = WaitForBoard(*session, config.board, MonotonicMs() + waitMs, stopWaiting, portChange);
      if (came == BoardWait::kStopped) break;
      if (came == BoardWait::kTimedOut) {
        sum.endingText = "No board answered within " + std::to_string(config.waitSeconds) + " s";
        sum.ending = LineEnding::kNoBoardCame;
        break;
      }
    }
    // Another slot met the last board asked for while this one was arriving.
    if (!line.ClaimBoard()) {
      CloseSlotSession(*session, slot, observer);
      break;
    }
    const auto boardStarted = std::chrono::steady_clock::now();
    RunReport report = SessionReport(*session);
    report.file = FactsOf(image);
    observer.BoardSeen(slot, session->Transport(), session->IdentityRead(), session->Texts());
    const bool retry = session->IdentityRead() && line.IsRetry(session->Identity());
    LineEnding ending = LineEnding::kNone;
    Allocation allocation;
    const std::string& serial = allocation.serial;
    RunRequest request;
    if (report.stage == RunStage::kConnected && Admit(line, slot.port, report, allocation, ending)) {
      const IdentityTexts found = session->Texts();
      request.revision = config.revision ? *config.revision : found.revision;
      request.serial = serial;
      request.verify = config.verify;
      // A production run confirms, right before the lock, that the board it
      // stamped is still the one answering: a board swapped mid-run is never locked.
      request.identityCheck = IdentityCheck::kBeforeLock;
      observer.Programming(slot, session->Transport(), found, serial);
      report = ProgramSession(*session, image, request, progress);
      if (sum.firstSerial.empty()) sum.firstSerial = serial;
      sum.lastSerial = serial;
    }
    report.stoppedBy = stop.RequestedBy();
    CloseSlotSession(*session, slot, observer);
    // From the start of the connect that reached this board, which may have
    // begun while the last board was watched go: never less than connect_seconds.
    const double seconds = report.connectSeconds + SecondsSince(boardStarted);
    Json record = RunRecord(report, {config.command, slot.port, slot.index, seconds});
    if (line.KeepsRecords()) {
      if (const StoreError e = line.Record(report, allocation, slot.port, JsonLine(record)); e.Failed()) {
        // A conflict was recorded with the run; any other failure leaves the
        // number pending in the database: tovrin-cli db pending shows it.
        const bool conflict = e.failure == StoreFailure::kConflict;
        if (conflict) record["conflict"] = e.message;
        observer.Problem(slot, conflict ? SlotProblem::kConflict : SlotProblem::kRecordNotStored,
                         Printable(e.message));
        // A board that already ends the line says why itself.
        if (ending == LineEnding::kNone) {
          line.End(EndingOf(e.failure),
                   (conflict ? "" : "The database did not take a board's record: ") + Printable(e.message));
        }
        ending = EndingOf(e.failure);
      }
    }
    // The identity the run stamped, once the frame carrying it went out.
    const IdentityBlock written = IdentityAfter(image, request);
    if (!report.Succeeded()) line.Failed(report, report.run.stampSent ? &written : nullptr);
    const std::string logged = line.Append(record);
    if (!logged.empty()) {
      // A board without its record is not traceable: the line ends here.
      observer.Problem(slot, SlotProblem::kRecordNotLogged, logged);
      line.End(LineEnding::kRecordLost, "The run log did not take a board's record");
      if (report.Succeeded()) ++sum.passed; else ++sum.failed;
      break;
    }
    observer.BoardDone(slot, ResultOf(report, serial, retry, seconds), report, record);
    if (retry) ++sum.retries;
    if (report.Succeeded()) {
      ++sum.passed;
      if (!retry) ++sum.firstPass;
      sum.passedSeconds += seconds;
    } else {
      ++sum.failed;
    }
    if (ending != LineEnding::kNone) {
      line.End(ending, RunMessage(report));
      break;
    }
    // A trace or capture that did not take every event ends the line, as a run
    // log's lost record does: the boards after it would go unrecorded.
    if (wireFiles != nullptr && wireFiles->Lost()) {
      line.End(LineEnding::kRecordLost, "The trace or the capture did not take every event");
      break;
    }
    if (report.Interrupted() || line.AllClaimed()) break;
    observer.WaitingToGo(slot);
    // After a lock the board answers with what was written to it, so a board
    // with another identity is the next one, however short the gap.
    arrived = newSession();
    const BoardWait gone = WaitForNextBoard(*arrived, config.board, report.Succeeded() ? &written : nullptr,
                                            MonotonicMs() + waitMs, stopWaiting, portChange);
    if (gone == BoardWait::kStopped) break;
    if (gone == BoardWait::kTimedOut) {
      sum.endingText = "The board still answers after " + std::to_string(config.waitSeconds) + " s";
      sum.ending = LineEnding::kBoardStayed;
      break;
    }
    if (!arrived->Connected()) arrived.reset();
  }
  observer.Ended(slot, sum);
  return sum;
}
