#include "flash/program_image.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <memory>

#include "common/diagnostic_line.h"

namespace {

// Seconds since `start`, for the run's times.
double StepSeconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

ProgramRun Failed(ProgramRun run, int result, LinkCommand command, const LinkOutcome& outcome) {
  run.result = result;
  run.command = command;
  run.outcome = outcome;
  return run;
}

// A read-back stopped on request: the read it did not send.
ProgramRun StoppedBeforeRead(ProgramRun run, int frame, std::uint32_t address) {
  run.result = kProgramInterrupted;
  run.command = LinkCommand::kRead;
  run.frame = frame;
  run.address = address;
  return run;
}

// Reads `length` bytes from `start` back, frame::kReadBytes at a time, and
// compares them with `expected` (the bytes from `start` on). Bytes at or beyond
// the end of the flash were never stored and are not read. The run unchanged,
// or failed at the first byte that differs or the read that got no good reply.
ProgramRun ReadBack(BoardLink& link, std::uint32_t start, const std::uint8_t* expected, std::uint32_t length,
                    ProgramRun run) {
  for (std::uint32_t offset = 0; offset < length; offset += frame::kReadBytes) {
    const std::uint32_t address = start + offset;
    if (address >= kFlashSize) break;
    std::uint8_t read[frame::kReadBytes];
    const LinkOutcome outcome = ReadFlashWords(link, address, read);
    if (!outcome.Accepted()) {
      run.address = address;
      return Failed(run, kProgramVerifyFailed, LinkCommand::kRead, outcome);
    }
    const std::uint32_t compared = std::min<std::uint32_t>({frame::kReadBytes, kFlashSize - address, length - offset});
    for (std::uint32_t i = 0; i < compared; ++i) {
      if (read[i] != expected[offset + i]) {
        run.address = address + i;
        return Failed(run, kProgramVerifyFailed, LinkCommand::kRead, outcome);
      }
    }
  }
  return run;
}

ProgramRun VerifyFrames(BoardLink& link, const FlashImage& stamped, const FramePlan& plan, ProgramRun run,
                        ProgramObserver& observer) {
  for (std::size_t i = 0; i < plan.starts.size(); ++i) {
    const std::uint32_t start = plan.starts[i];
    if (observer.StopRequested()) return StoppedBeforeRead(run, static_cast<int>(i) + 1, start);
    std::uint8_t block[plan_const::kBlockLength];
    FrameBytes(stamped, start, block);
    run = ReadBack(link, start, block, plan_const::kBlockLength, run);
    if (run.result != kProgramDone) {
      run.frame = static_cast<int>(i) + 1;
      return run;
    }
  }
  return run;
}

// The whole flash read back in slices, so a stop request is heard between them.
ProgramRun VerifyWhole(BoardLink& link, const FlashImage& stamped, const FramePlan& plan, ProgramRun run,
                       ProgramObserver& observer) {
  const std::unique_ptr<FlashImage> written = WrittenImage(stamped, plan);
  for (std::uint32_t start = 0; start < kFlashSize; start += plan_const::kBlockLength) {
    if (observer.StopRequested()) return StoppedBeforeRead(run, 0, start);
    run = ReadBack(link, start, written->data() + start, plan_const::kBlockLength, run);
    if (run.result != kProgramDone) return run;
  }
  return run;
}

// The plan's frame that holds the identity record's first byte; the stamp
// makes that block non-blank, so a run always sends it.
std::size_t StampFrame(const FramePlan& plan) {
  const auto holds = [](std::uint32_t start) {
    return start <= identity::kFlashOffset && identity::kFlashOffset < start + plan_const::kBlockLength;
  };
  return static_cast<std::size_t>(std::find_if(plan.starts.begin(), plan.starts.end(), holds) - plan.starts.begin());
}

// The identity record read back and held against the stamp: the run unchanged,
// or failed at the read that got no good reply or the first byte that differs.
ProgramRun ConfirmIdentity(BoardLink& link, const FlashImage& stamped, ProgramRun run) {
  IdentityBlock read{};
  const LinkOutcome outcome = ReadIdentity(link, read);
  run.address = identity::kFlashOffset;
  if (!outcome.Accepted()) return Failed(run, kProgramVerifyFailed, LinkCommand::kRead, outcome);
  for (std::size_t i = 0; i < read.size(); ++i) {
    if (read[i] != stamped[identity::kFlashOffset + i]) {
      run.address = identity::kFlashOffset + static_cast<std::uint32_t>(i);
      run.boardChanged = true;
      return Failed(run, kProgramVerifyFailed, LinkCommand::kRead, outcome);
    }
  }
  run.address = 0;
  return run;
}

}  // namespace

ProgramRun ProgramImage(BoardLink& link, const FlashImage& stamped, ProgramObserver& observer, VerifyMode verify,
                        IdentityCheck check) {
  ProgramRun run;
  const FramePlan plan = PlanFrames(stamped);
  run.framesPlanned = static_cast<int>(plan.starts.size());
  if (plan.unsentBytes > 0) {
    SayOnLink(link, DiagnosticLine("%" PRIu32 " bytes of data from 0x%05" PRIX32 " are not sent: no frame reaches them\n",
                                   plan.unsentBytes, plan.firstUnsent));
  }
  observer.RunStarted(run.framesPlanned);
  auto end = [&](ProgramRun finished) {
    observer.RunEnded(finished.result, finished.framesAcknowledged);
    return finished;
  };
  // The command that was not sent, so the front end can say where the run stopped.
  auto interrupted = [&](LinkCommand next, std::uint32_t address = 0) {
    run.result = kProgramInterrupted;
    run.command = next;
    if (next == LinkCommand::kProgram) {
      run.frame = run.framesAcknowledged + 1;
      run.address = address;
    }
    return end(run);
  };

  if (observer.StopRequested()) return interrupted(LinkCommand::kErase);
  auto step = std::chrono::steady_clock::now();
  const LinkOutcome erased = EraseFlash(link);
  run.times.eraseSeconds = StepSeconds(step);
  if (!erased.Accepted()) return end(Failed(run, kProgramEraseFailed, LinkCommand::kErase, erased));
  SayOnLink(link, "Program Flash\n");

  const std::size_t stampFrame = StampFrame(plan);
  step = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < plan.starts.size(); ++i) {
    const std::uint32_t start = plan.starts[i];
    if (observer.StopRequested()) return interrupted(LinkCommand::kProgram, start);
    std::uint8_t block[plan_const::kBlockLength];
    FrameBytes(stamped, start, block);
    if (i == stampFrame) run.stampSent = true;
    const LinkOutcome sent = ProgramFlashBlock(link, start, block);
    if (!sent.Accepted()) {
      run.times.framesSeconds = StepSeconds(step);
      run.frame = run.framesAcknowledged + 1;
      run.address = start;
      return end(Failed(run, kProgramFrameFailed, LinkCommand::kProgram, sent));
    }
    observer.FrameAcknowledged(run.framesAcknowledged, start);
    ++run.framesAcknowledged;
  }
  run.times.framesSeconds = StepSeconds(step);

  if (verify != VerifyMode::kNone) {
    SayOnLink(link, "Verify Flash\n");
    step = std::chrono::steady_clock::now();
    run = verify == VerifyMode::kFull ? VerifyWhole(link, stamped, plan, run, observer)
                                      : VerifyFrames(link, stamped, plan, run, observer);
    run.times.verifySeconds = StepSeconds(step);
    if (run.result != kProgramDone) return end(run);
  }
  if (check == IdentityCheck::kBeforeLock) {
    if (observer.StopRequested()) return interrupted(LinkCommand::kRead);
    run = ConfirmIdentity(link, stamped, run);
    if (run.result != kProgramDone) return end(run);
  }

  if (observer.StopRequested()) return interrupted(LinkCommand::kLock);
  step = std::chrono::steady_clock::now();
  const LinkOutcome locked = LockAndReset(link);
  run.times.lockSeconds = StepSeconds(step);
  if (!locked.Accepted()) return end(Failed(run, kProgramLockFailed, LinkCommand::kLock, locked));
  PauseLink(link, link.waits.pauseAfterLockMs);
  run.times.lockSeconds = StepSeconds(step);
  return end(run);
}
