#include "cli/batch/batch_slot.h"

#include <chrono>
#include <memory>

#include "cli/commands/board_commands.h"
#include "cli/exit_codes.h"
#include "cli/output/run_log.h"
#include "cli/output/text_output.h"
#include "os/host.h"
#include "os/stop.h"
#include "run/line.h"
#include "run/program_run.h"

namespace {

constexpr std::int64_t kMsPerSecond = 1000;

// A board turned away before its erase, with the status and words of why.
void Refuse(RunReport& report, int status, std::string message) {
  report.stage = RunStage::kRefused;
  report.refusal = status;
  report.refusalMessage = std::move(message);
}

// The checks a board passes before its erase: its model, and a serial number
// for it from the line. `endsLine` when no board on any slot can be served.
bool Admit(const CliOptions& options, BatchLine& line, const std::string& slotName, RunReport& report,
           Allocation& allocation, bool& endsLine) {
  if (!CheckHardware(report, options.expectHardware)) return false;
  const SerialGrant grant = line.GrantSerial(report, slotName);
  if (grant.allocation.serial.empty()) {
    endsLine = grant.endsLine;
    Refuse(report, grant.refusal, grant.message);
    return false;
  }
  allocation = grant.allocation;
  return true;
}

}  // namespace

SlotSummary RunSlot(const SlotSetup& setup, const CliOptions& options, const FirmwareFile& image, BatchLine& line,
                    SlotOutput& output) {
  SlotSummary sum;
  const LinkWaits waits = LineWaits(options.waits);
  const std::int64_t waitMs = std::int64_t{options.waitSeconds} * kMsPerSecond;
  // A slot stops waiting when a stop is asked for, when the line ends, or when
  // the boards asked for have all been met.
  const auto stop = [&line] { return InterruptStatus() != 0 || line.Ended() || line.AllClaimed(); };
  const auto newSession = [&] {
    auto session = std::make_unique<Session>(waits);
    session->Watch(setup.trace);
    session->BindToInterface(setup.interfaceName);
    return session;
  };

  // A board that answered while the last one was still being watched go.
  std::unique_ptr<Session> arrived;
  for (;;) {
    std::unique_ptr<Session> session = std::move(arrived);
    if (!session) {
      session = newSession();
      output.Waiting(line.NextSerial());
      const LineWait came = WaitForBoard(*session, options.board, MonotonicMs() + waitMs, stop);
      if (came == LineWait::kStopped) break;
      if (came == LineWait::kTimedOut) {
        sum.ending = "No board answered within " + std::to_string(options.waitSeconds) + " s";
        sum.status = exit_code::kConnectFailed;
        break;
      }
    }
    // Another slot met the last board asked for while this one was arriving.
    if (!line.ClaimBoard()) {
      CloseSession(*session, setup.diag);
      break;
    }
    const auto boardStarted = std::chrono::steady_clock::now();
    RunReport report = SessionReport(*session);
    report.file = FactsOf(image);
    bool endsLine = false;
    Allocation allocation;
    const std::string& serial = allocation.serial;
    RunRequest request;
    if (report.stage == RunStage::kConnected && Admit(options, line, setup.interfaceName, report, allocation, endsLine)) {
      const IdentityTexts found = session->Texts();
      request.revision = options.revisionGiven ? options.revision : found.revision;
      request.serial = serial;
      request.verify = options.verify;
      output.Programming(session->Transport(), found, serial);
      report = ProgramSession(*session, image, request, output.StartProgress());
      if (sum.firstSerial.empty()) sum.firstSerial = serial;
      sum.lastSerial = serial;
    }
    report.stoppedBy = StopName();
    CloseSession(*session, setup.diag);
    const double seconds = SecondsSince(boardStarted);
    const int result = RunExitStatus(report, 0);
    const Json record = RunRecord(report, {"batch", setup.interfaceName, setup.slot, seconds});
    if (!options.dbTarget.empty()) {
      if (const StoreError e = line.Record(report, allocation, setup.interfaceName, JsonLine(record)); e.Failed()) {
        // The number stays pending in the database: tovrin-cli db pending shows it.
        std::fprintf(setup.diag, "tovrin-cli: the database did not take this board's record: %s\n",
                     Printable(e.message).c_str());
        // A board that already ends the line says why itself.
        if (!endsLine) line.End(e.status, "The database did not take a board's record: " + Printable(e.message));
        endsLine = true;
      }
    }
    const LogWrite logged = line.Append(record);
    if (!logged.written) {
      // A board without its record is not traceable: the batch ends here.
      std::fprintf(setup.diag, "tovrin-cli: the run log %s did not take this board's record: %s\n",
                   Printable(options.logFile).c_str(), logged.reason.c_str());
      line.End(exit_code::kLogUnwritable, "The run log did not take a board's record");
      if (report.Succeeded()) ++sum.programmed; else ++sum.failed;
      break;
    }
    output.BoardDone(serial, report, record);
    if (report.Succeeded()) {
      ++sum.programmed;
      sum.programmedSeconds += seconds;
    } else {
      ++sum.failed;
      line.Failed(result);
    }
    if (endsLine) {
      line.End(result, RunMessage(report));
      break;
    }
    // A trace or capture that did not take every event ends the line, as a run
    // log's lost record does: the boards after it would go unrecorded.
    if (setup.wire != nullptr && setup.wire->Lost()) {
      line.End(exit_code::kLogUnwritable, "The trace or the capture did not take every event");
      break;
    }
    if (report.Interrupted() || line.AllClaimed()) break;
    output.WaitingToGo();
    // After a lock the board answers with what was written to it, so a board
    // with another identity is the next one, however short the gap.
    const IdentityBlock written = IdentityAfter(image, request);
    arrived = newSession();
    const LineWait gone = WaitForNextBoard(*arrived, options.board, report.Succeeded() ? &written : nullptr,
                                           MonotonicMs() + waitMs, stop);
    if (gone == LineWait::kStopped) break;
    if (gone == LineWait::kTimedOut) {
      sum.ending = "The board still answers after " + std::to_string(options.waitSeconds) + " s";
      sum.status = exit_code::kConnectFailed;
      break;
    }
    if (!arrived->Connected()) arrived.reset();
  }
  output.Ended(sum);
  return sum;
}
