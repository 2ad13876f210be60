#include "line/station_record.h"

#include "common/text.h"
#include "os/host.h"

BoardClaim ClaimFor(const StationWho& who, const RunReport& report) {
  BoardClaim claim;
  if (report.identityRead) claim.identityBefore = HexBytes(report.identityBefore.data(), report.identityBefore.size());
  claim.station = HostName();
  claim.slot = who.slot;
  claim.operatorName = who.operatorName.empty() ? UserName() : who.operatorName;
  claim.sha256 = report.file.sha256;
  claim.jobName = report.file.job.name;
  claim.jobSha256 = report.file.job.sha256;
  claim.jobSigner = report.file.job.signer;
  return claim;
}

StoredRun StoredRunOf(const StationWho& who, const RunReport& report, const std::string& json) {
  const char* result = report.stage == RunStage::kRefused  ? "refused"
                       : report.stage == RunStage::kSkipped  ? "skipped"
                       : report.Interrupted()                ? "interrupted"
                       : !report.Succeeded()                 ? serial_state_name::kFailed
                       : report.verify != VerifyMode::kNone  ? serial_state_name::kVerified
                                                             : serial_state_name::kProgrammed;
  const BoardClaim claim = ClaimFor(who, report);
  return StoredRun{who.command, claim.station, claim.slot, claim.operatorName, report.Programmed() ? report.serial : "",
                   claim.sha256, result, json, claim.jobName, claim.jobSha256, claim.jobSigner};
}

RunEnd RunEndOf(const RunReport& report, const StoredRun& stored) {
  RunEnd end;
  end.outcome = !report.Succeeded()                ? RunOutcome::kFailed
                : report.verify != VerifyMode::kNone ? RunOutcome::kVerified
                                                   : RunOutcome::kProgrammed;
  end.stampSent = report.run.stampSent;
  if (!report.Succeeded()) {
    const auto cause = CauseOf(report);
    end.cause = cause ? CauseText(*cause) : RunMessage(report);
  }
  end.record = stored;
  return end;
}
