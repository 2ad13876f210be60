#include "cli/exit_codes.h"

#include "os/stop.h"

int StoreExitStatus(StoreFailure failure) {
  switch (failure) {
    case StoreFailure::kNone: return 0;
    case StoreFailure::kUnusable: return exit_code::kStateUnusable;
    case StoreFailure::kUsedUp: return exit_code::kSerialsExhausted;
    case StoreFailure::kUnsupported: return exit_code::kUsage;
    case StoreFailure::kConflict: return exit_code::kConflict;
    case StoreFailure::kLeaseHeld: return exit_code::kLeaseHeld;
  }
  return exit_code::kInternal;
}

int JobExitStatus(JobRefusal refusal) {
  switch (refusal) {
    case JobRefusal::kNone: return 0;
    case JobRefusal::kUnreadable: return exit_code::kJobUnreadable;
    case JobRefusal::kFirmwareDiffers: return exit_code::kJobFirmwareDiffers;
    case JobRefusal::kNotSigned:
    case JobRefusal::kBadSignature:
    case JobRefusal::kNoTrustedSigner: return exit_code::kJobNotTrusted;
    case JobRefusal::kExpired:
    case JobRefusal::kNewerVersion: return exit_code::kJobOutOfDate;
  }
  return exit_code::kInternal;
}

int LineExitStatus(LineEnding ending, int fileResult) {
  switch (ending) {
    case LineEnding::kNone: return 0;
    case LineEnding::kNoBoardCame:
    case LineEnding::kBoardStayed: return exit_code::kConnectFailed;
    case LineEnding::kRecordLost: return exit_code::kLogUnwritable;
    case LineEnding::kStoreUnusable: return exit_code::kStateUnusable;
    case LineEnding::kSerialsUsedUp: return exit_code::kSerialsExhausted;
    case LineEnding::kStoreUnsupported: return exit_code::kUsage;
    case LineEnding::kConflict: return exit_code::kConflict;
    case LineEnding::kFileRefused: return fileResult;
    case LineEnding::kInternal: return exit_code::kInternal;
  }
  return exit_code::kInternal;
}

int WatchStatus(const std::vector<std::string>& losses, int status, std::FILE* err) {
  for (const std::string& lost : losses) {
    std::fprintf(err, "tovrin-cli: %s\n", lost.c_str());
    status = exit_code::kLogUnwritable;
  }
  return status;
}

int RunExitStatus(const RunReport& report, int interruptStatus) {
  if (report.Interrupted()) return interruptStatus != 0 ? interruptStatus : kInterruptedBySigint;
  if (report.stage == RunStage::kSkipped) return 0;
  const Json result = RunResultJson(report);
  return result.is_number_integer() ? result.get<int>() : exit_code::kInternal;
}
