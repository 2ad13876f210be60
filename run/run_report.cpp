#include "run/run_report.h"

#include "common/text.h"
#include "flash/image_format.h"

RunReport SessionReport(const Session& session) {
  RunReport report;
  report.board = session.Address();
  report.connected = session.Opened().Opened();
  report.opened = session.Opened();
  report.transport = session.Transport();
  report.identityRead = session.IdentityRead();
  report.identityOutcome = session.IdentityOutcome();
  report.identityBefore = session.Identity();
  report.connectSeconds = session.OpenSeconds();
  report.stage = !report.connected      ? RunStage::kConnect
                 : !report.identityRead ? RunStage::kIdentity
                                        : RunStage::kConnected;
  return report;
}

FileFacts FactsOf(const FirmwareFile& file) {
  FileFacts facts;
  facts.name = file.name;
  facts.sha256 = file.sha256;
  facts.size = file.size;
  facts.result = file.result;
  facts.reason = file.reason;
  facts.load = file.load;
  facts.job = file.job;
  if (file.read && file.load.format != ImageFormat::kAuto) facts.format = FormatName(file.load.format);
  return facts;
}

RunReport RefusedFileReport(const FirmwareFile& file) {
  RunReport report;
  report.stage = RunStage::kFile;
  report.file = FactsOf(file);
  return report;
}

bool RunReport::Interrupted() const {
  switch (stage) {
    case RunStage::kConnect:
    case RunStage::kIdentity: return !stoppedBy.empty();
    case RunStage::kProgram: return run.result == kProgramInterrupted;
    case RunStage::kFile:
    case RunStage::kConnected:
    case RunStage::kRefused:
    case RunStage::kSkipped: return false;
  }
  return false;
}

std::string RunMessage(const RunReport& report) {
  if (report.Interrupted()) return ProgramResultMessage(kProgramInterrupted);
  switch (report.stage) {
    case RunStage::kFile: return ProgramResultMessage(report.file.result);
    case RunStage::kConnect: return MessageText(ConnectFailedMessage(report.opened.error));
    case RunStage::kIdentity: return msg::kIdentityFailed;
    case RunStage::kConnected: return msg::kIdentityRead;
    case RunStage::kRefused: return report.refusalMessage;
    case RunStage::kProgram: return ProgramRunMessage(report.run);
    case RunStage::kSkipped: return msg::kAlreadyHeld;
  }
  return "";
}

std::optional<RunCause> CauseOf(const RunReport& report) {
  RunCause cause;
  if (report.Interrupted()) {
    const std::string by = "stopped by " + report.stoppedBy;
    if (!report.Programmed()) {
      cause.what = by + " while connecting; nothing was erased";
      return cause;
    }
    // The command (and frame) the run did not send.
    const ProgramRun& run = report.run;
    cause.command = run.command;
    cause.frame = run.frame;
    cause.hasAddress = run.command == LinkCommand::kProgram || run.command == LinkCommand::kRead;
    cause.address = run.address;
    cause.what = by + " before it was sent; the board is not locked";
    return cause;
  }
  switch (report.stage) {
    case RunStage::kFile:
    case RunStage::kConnect:
    case RunStage::kConnected:
    case RunStage::kRefused:
    case RunStage::kSkipped: return std::nullopt;
    case RunStage::kIdentity:
      if (report.identityOutcome.Accepted()) return std::nullopt;
      cause.command = LinkCommand::kRead;
      cause.what = DescribeOutcome(report.identityOutcome);
      return cause;
    case RunStage::kProgram: {
      const ProgramRun& run = report.run;
      if (run.boardChanged) {
        cause.command = LinkCommand::kRead;
        cause.hasAddress = true;
        cause.address = run.address;
        cause.what = msg::kBoardChangedCause;
        return cause;
      }
      // A read-back whose bytes differ was answered well: its message says where.
      if (run.outcome.Accepted()) return std::nullopt;
      cause.command = run.command;
      cause.frame = run.frame;
      cause.hasAddress = run.command == LinkCommand::kProgram || run.command == LinkCommand::kRead;
      cause.address = run.address;
      cause.what = DescribeOutcome(run.outcome);
      return cause;
    }
  }
  return std::nullopt;
}

std::string CauseText(const RunCause& cause) {
  std::string text = cause.command ? CommandName(*cause.command) : "";
  if (cause.frame > 0) text += " frame " + std::to_string(cause.frame);
  if (cause.hasAddress) text += " at " + FlashAddress(cause.address);
  return (text.empty() ? "" : text + ": ") + cause.what;
}
