#include "cli/commands/read_back_endings.h"

#include "cli/exit_codes.h"
#include "os/stop.h"
#include "run/read_back.h"

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
