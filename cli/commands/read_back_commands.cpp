#include "cli/commands/read_back_commands.h"

#include "cli/commands/board_commands.h"
#include "cli/exit_codes.h"
#include "os/stop.h"
#include "run/read_back.h"

RunReport WithBoard(const CliOptions& options, std::FILE* diag, WireRecord& watch,
                    const std::function<void(Session&)>& readBack) {
  RunReport report;
  report.board = options.board;
  std::string refused;
  if (watch.Open(options.traceFile, options.pcapFile, refused) != 0) {
    report.stage = RunStage::kRefused;
    report.refusal = Refusal::kRecordUnwritable;
    report.refusalMessage = refused;
    return report;
  }
  Session session(SessionConfigOf(options, watch.Observer()));
  session.Open(options.board);
  report = SessionReport(session);
  if (report.stage == RunStage::kConnected) readBack(session);
  report.stoppedBy = StopName();
  CloseSession(session, diag);
  return report;
}

ReadBackEnding EndingBeforeRead(const RunReport& report) {
  return {RunResultJson(report), RunMessage(report), CauseOf(report), RunExitStatus(report, InterruptStatus())};
}

ReadBackEnding EndingOfRead(const FlashRead& read, const std::string& stoppedBy) {
  if (read.end == ReadEnd::kStopped) {
    const int status = InterruptStatus() != 0 ? InterruptStatus() : kInterruptedBySigint;
    return {"interrupted", "Read interrupted", ReadCause(read, stoppedBy), status};
  }
  return {exit_code::kReadFailed, "Read failed", ReadCause(read, stoppedBy), exit_code::kReadFailed};
}

void PutBoard(Json& json, const RunReport& report) {
  json["board"] = report.board;
  json["link"] = report.connected ? Json(LinkTypeText(report.transport)) : Json(nullptr);
  json["identity"] = report.identityRead ? IdentityJson(report.identityBefore) : Json(nullptr);
}

void PrintEnding(std::FILE* out, const ReadBackEnding& ending) {
  std::fprintf(out, "%s\n", ending.message.c_str());
  if (ending.cause) std::fprintf(out, "Cause: %s\n", CauseText(*ending.cause).c_str());
}
