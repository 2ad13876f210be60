#include "line/one_board_run.h"

#include <memory>

#include "common/text.h"
#include "line/run_log.h"
#include "line/wire_record.h"
#include "link/observer_fan.h"
#include "os/files.h"

namespace {

// The run log, or why the run refuses to start: empty when it may.
std::string OpenLog(const std::string& path, int& fd) {
  std::string reason;
  if (path.empty() || (fd = OpenRunLog(path, reason)) >= 0) return "";
  return "Cannot open the run log " + Printable(path) + ": " + reason;
}

RunReport ProgramOnce(const OneBoardRun& run, const BoardAddress& board, BoardObserver& observer,
                      const std::string& refused, Refusal refusal) {
  RunReport report;
  report.board = run.board.address;
  report.file.name = run.file;
  if (!refused.empty()) {
    report.stage = RunStage::kRefused;
    report.refusal = refusal;
    report.refusalMessage = refused;
    return report;
  }
  FirmwareFile file = ReadFirmware(run.file, run.input);
  for (const std::string& line : file.load.diagnostics) observer.Diagnostic(line);
  if (!run.refusesFile || !run.refusesFile(file, report)) {
    report = file.Usable() ? ProgramOneBoard(board, file, run.choice, observer) : RefusedFileReport(file);
  }
  report.board = run.board.address;
  return report;
}

}  // namespace

OneBoardOutcome ProgramAndRecord(const OneBoardRun& run, BoardObserver& observer) {
  OneBoardOutcome outcome;
  int logFd = -1;
  WireRecord wireFiles;  // the trace and the capture
  std::string refused = OpenLog(run.logFile, logFd);
  if (refused.empty()) wireFiles.Open(run.traceFile, run.pcapFile, refused);
  // Nor one whose station database cannot be reached.
  std::unique_ptr<SerialStore> store;
  Refusal refusal = Refusal::kRecordUnwritable;
  if (refused.empty() && !run.dbTarget.empty()) {
    StoreError e;
    store = OpenDatabaseStore(run.dbTarget, e);
    if (!store) {
      refused = e.message;
      refusal = e.failure == StoreFailure::kUnsupported ? Refusal::kStoreUnsupported : Refusal::kStoreUnusable;
    }
  }
  // The front end's own watcher of the link, if any, beside the trace and capture.
  LinkObserverFan linkObservers;
  linkObservers.Add(run.board.session.observer);
  linkObservers.Add(wireFiles.Observer());
  BoardAddress board = run.board;
  board.session.observer = linkObservers.Empty() ? nullptr : &linkObservers;
  outcome.report = ProgramOnce(run, board, observer, refused, refusal);
  outcome.record = RunRecord(outcome.report, {"program", run.board.session.interfaceName, 0, SecondsSince(run.started)});
  if (logFd >= 0) {
    // The board is as the report says; the station's record of it is not.
    if (const LogWrite logged = AppendRunLog(logFd, outcome.record); !logged.written) outcome.logLost = logged.reason;
    CloseAppendFile(logFd);
  }
  if (store) outcome.stored = store->RecordRun(StoredRunOf(run.who, outcome.report, JsonLine(outcome.record)));
  outcome.wireLosses = wireFiles.Losses();
  return outcome;
}
