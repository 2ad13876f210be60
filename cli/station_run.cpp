#include "cli/station_run.h"

#include "cli/text_output.h"
#include "station/station_platform.h"

namespace {

namespace stamp_const {
constexpr std::uint32_t kIdentityStart = 0x420;
constexpr std::uint32_t kIdentityEnd = 0x430;  // one past the record's last byte
}  // namespace stamp_const

}  // namespace

bool StampFrameSent(const FramePlan& plan, const ProgramRun& run) {
  if (run.result == kProgramDone) return true;
  switch (run.command) {
    case LinkCommand::kErase:
      return false;
    case LinkCommand::kProgram:
      break;
    default:
      return true;  // the lock or the read-back: every frame went out
  }
  int stampFrame = 0;  // from 1, as run.frame counts
  for (std::size_t i = 0; i < plan.starts.size(); ++i) {
    const std::uint32_t start = plan.starts[i];
    if (start < stamp_const::kIdentityEnd && start + plan_const::kBlockLength > stamp_const::kIdentityStart) {
      stampFrame = static_cast<int>(i) + 1;
      break;
    }
  }
  if (stampFrame == 0) return false;
  // A stopped run names the frame it did not send; any other failure names the
  // frame that was sent and not acknowledged.
  return run.result == kProgramInterrupted ? stampFrame < run.frame : stampFrame <= run.frame;
}

BoardClaim ClaimFor(const CliOptions& options, const BoardSession& session, const std::string& sha256) {
  BoardClaim claim;
  if (session.identityRead) claim.identityBefore = HexBytes(session.block.data(), session.block.size());
  claim.station = HostName();
  claim.slot = options.board;
  claim.operatorName = options.operatorName.empty() ? UserName() : options.operatorName;
  claim.sha256 = sha256;
  return claim;
}

StoredRun StoredRunOf(const CliOptions& options, const BoardClaim& claim, const std::string& serial, int result,
                      bool refused, const std::string& json) {
  const char* name = refused                          ? "refused"
                     : result == kProgramInterrupted ? "interrupted"
                     : result != kProgramDone        ? serial_state_name::kFailed
                     : options.verify                ? serial_state_name::kVerified
                                                     : serial_state_name::kProgrammed;
  const char* command = options.command == CliCommand::kBatch ? "batch" : "program";
  return StoredRun{command, claim.station, claim.slot, claim.operatorName, serial, claim.sha256, name, json};
}

RunEnd RunEndOf(const CliOptions& options, const FramePlan& plan, const ProgramRun& run, const std::string& cause,
                const StoredRun& stored) {
  RunEnd end;
  end.outcome = run.result != kProgramDone ? RunOutcome::kFailed
                : options.verify           ? RunOutcome::kVerified
                                           : RunOutcome::kProgrammed;
  end.stampSent = StampFrameSent(plan, run);
  if (run.result != kProgramDone) end.cause = cause;
  end.record = stored;
  return end;
}
