#include "run/read_back.h"

#include <memory>

#include "common/diagnostic_line.h"
#include "os/host.h"
#include "vocabulary/vocabulary.h"

namespace {

constexpr double kMsPerSecond = 1000.0;

double SecondsSince(std::int64_t startedMs) {
  return static_cast<double>(MonotonicMs() - startedMs) / kMsPerSecond;
}

}  // namespace

BoardDump DumpBoard(Session& session, const FlashRange& range, ReadObserver& observer) {
  BoardDump dump;
  dump.range = range;
  dump.bytes.assign(range.Length(), kErasedByte);
  const std::int64_t started = MonotonicMs();
  dump.read = ReadFlash(session.Link(), range.start, range.end, dump.bytes.data(), observer);
  dump.seconds = SecondsSince(started);
  return dump;
}

BoardComparison CompareBoard(Session& session, const FirmwareFile& file, const RunRequest& request,
                             ReadObserver& observer, bool untilFirstDifference) {
  const std::unique_ptr<FlashImage> stamped = StampedImage(file, request);
  const std::unique_ptr<FlashImage> expected = WrittenImage(*stamped, PlanFrames(*stamped));
  auto board = std::make_unique<FlashImage>();
  board->fill(kErasedByte);

  BoardComparison comparison;
  const std::int64_t started = MonotonicMs();
  comparison.read = ReadFlash(session.Link(), 0, kFlashSize, board->data(), observer,
                              untilFirstDifference ? expected->data() : nullptr);
  comparison.seconds = SecondsSince(started);
  if (comparison.read.Whole()) comparison.diff = DiffFlash(expected->data(), board->data(), 0, kFlashSize);
  return comparison;
}

RunReport ProgramUnlessSame(Session& session, const FirmwareFile& file, const RunRequest& request,
                            ProgramObserver& observer, ReadObserver& readObserver) {
  const BoardComparison comparison = CompareBoard(session, file, request, readObserver, true);
  RunReport report;
  if (comparison.Same()) {
    report = PlannedRun(session, file, request);
    report.stage = RunStage::kSkipped;
  } else if (comparison.read.end == ReadEnd::kStopped) {
    // As a run stopped before a read-back's read: the read not sent, unlocked.
    report = PlannedRun(session, file, request);
    report.run.result = kProgramInterrupted;
    report.run.command = LinkCommand::kRead;
    report.run.address = comparison.read.address;
  } else {
    if (comparison.read.end == ReadEnd::kFailed) {
      SayOnLink(session.Link(), DiagnosticLine("The board could not be read back at %s (%s); programming it\n",
                                               FlashAddress(comparison.read.address).c_str(),
                                               DescribeOutcome(comparison.read.outcome).c_str()));
    }
    report = ProgramSession(session, file, request, observer);
  }
  report.compared = comparison.read;
  report.compareSeconds = comparison.seconds;
  return report;
}

std::optional<RunCause> ReadCause(const FlashRead& read, const std::string& stoppedBy) {
  if (read.end != ReadEnd::kFailed && read.end != ReadEnd::kStopped) return std::nullopt;
  RunCause cause;
  cause.command = LinkCommand::kRead;
  cause.hasAddress = true;
  cause.address = read.address;
  cause.what = read.end == ReadEnd::kFailed ? DescribeOutcome(read.outcome)
                                            : "stopped by " + stoppedBy + " before it was sent";
  return cause;
}
