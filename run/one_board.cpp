#include "run/one_board.h"

#include "run/board_checks.h"

namespace {

ReachedBoard ReachedOf(const Session& session) {
  return {session.Address(), session.InterfaceName(), session.Transport(), session.Texts()};
}

RunRequest RequestFor(const IdentityChoice& stamp, const Session& session) {
  const IdentityTexts board = session.Texts();
  RunRequest request;
  request.revision = stamp.revision.value_or(board.revision);
  request.serial = stamp.serial.value_or(board.serialNumber);
  request.verify = stamp.verify;
  return request;
}

// The session's own observer (a trace, a capture) and the command's, both
// watching the link.
SessionConfig Watched(const BoardAddress& board, LinkObserverFan& fan, BoardObserver& observer) {
  fan.Add(board.session.observer);
  fan.Add(&observer);
  SessionConfig config = board.session;
  config.observer = &fan;
  return config;
}

// Closes the link if it is open; a close the socket library refuses changes no outcome.
void CloseLink(Session& session, BoardObserver& observer) {
  if (!session.Link().IsOpen()) return;
  if (const int closed = session.Close(); closed != 0) observer.CloseRefused(closed);
}

}  // namespace

RunReport IdentifyBoard(const BoardAddress& board, BoardObserver& observer) {
  LinkObserverFan fan;
  Session session(Watched(board, fan, observer));
  session.Open(board.address);
  CloseLink(session, observer);
  RunReport report = SessionReport(session);
  report.stoppedBy = observer.StoppedBy();
  return report;
}

RunReport ProgramOneBoard(const BoardAddress& board, const FirmwareFile& file, const ProgramChoice& choice,
                          BoardObserver& observer) {
  LinkObserverFan fan;
  Session session(Watched(board, fan, observer));
  session.Open(board.address);
  RunReport report = SessionReport(session);
  report.file = FactsOf(file);
  if (report.stage == RunStage::kConnected && CheckHardware(report, choice.expectHardware)) {
    const RunRequest request = RequestFor(choice.stamp, session);
    observer.BoardReady(ReachedOf(session), request, PlannedFrames(file, request));
    // A stop asked for while connecting ends the run before the erase.
    report = choice.skipIfSame ? ProgramUnlessSame(session, file, request, observer, observer)
                               : ProgramSession(session, file, request, observer);
  }
  report.stoppedBy = observer.StoppedBy();
  // Every run, good or bad, ends the connection, as the window's does.
  CloseLink(session, observer);
  return report;
}

BoardRead ReadOneBoard(const BoardAddress& board, const FlashRange& range, BoardObserver& observer) {
  BoardRead read;
  LinkObserverFan fan;
  Session session(Watched(board, fan, observer));
  session.Open(board.address);
  read.report = SessionReport(session);
  if (read.report.stage == RunStage::kConnected) {
    observer.BoardReady(ReachedOf(session), RunRequest{}, 0);
    read.dump = DumpBoard(session, range, observer);
  }
  read.report.stoppedBy = observer.StoppedBy();
  CloseLink(session, observer);
  return read;
}

BoardCompared CompareOneBoard(const BoardAddress& board, const FirmwareFile& file, const IdentityChoice& stamp,
                              BoardObserver& observer) {
  BoardCompared compared;
  compared.report = RefusedFileReport(file);
  compared.report.board = board.address;
  if (!file.Usable()) return compared;
  LinkObserverFan fan;
  Session session(Watched(board, fan, observer));
  session.Open(board.address);
  compared.report = SessionReport(session);
  if (compared.report.stage == RunStage::kConnected) {
    compared.request = RequestFor(stamp, session);
    compared.frames = PlannedFrames(file, compared.request);
    observer.BoardReady(ReachedOf(session), compared.request, compared.frames);
    compared.comparison = CompareBoard(session, file, compared.request, observer);
  }
  compared.report.stoppedBy = observer.StoppedBy();
  CloseLink(session, observer);
  return compared;
}

RunReport RecordRefusedReport(const std::string& address, const std::string& why) {
  RunReport report;
  report.board = address;
  report.stage = RunStage::kRefused;
  report.refusal = Refusal::kRecordUnwritable;
  report.refusalMessage = why;
  return report;
}
