#include "run/program_run.h"

#include <algorithm>
#include <memory>

#include "common/diagnostic_line.h"
#include "flash/identity_stamp.h"
#include "os/host.h"

namespace {
constexpr double kMsPerSecond = 1000.0;
}

std::unique_ptr<FlashImage> StampedImage(const FirmwareFile& file, const RunRequest& request) {
  auto stamped = std::make_unique<FlashImage>(*file.image);
  StampIdentity(*stamped, request.serial, request.revision);
  return stamped;
}

std::size_t PlannedFrames(const FirmwareFile& file, const RunRequest& request) {
  return PlanFrames(*StampedImage(file, request)).starts.size();
}

IdentityBlock IdentityAfter(const FirmwareFile& file, const RunRequest& request) {
  const std::unique_ptr<FlashImage> stamped = StampedImage(file, request);
  IdentityBlock block{};
  std::copy_n(stamped->begin() + identity::kFlashOffset, block.size(), block.begin());
  return block;
}

RunReport PlannedRun(const Session& session, const FirmwareFile& file, const RunRequest& request) {
  RunReport report = SessionReport(session);
  report.file = FactsOf(file);
  report.stage = RunStage::kProgram;
  report.revision = request.revision;
  report.serial = request.serial.substr(0, kSerialStampMax);
  report.verify = request.verify;
  report.plan = PlanFrames(*StampedImage(file, request));
  report.run.framesPlanned = static_cast<int>(report.plan.starts.size());
  return report;
}

RunReport ProgramSession(Session& session, const FirmwareFile& file, const RunRequest& request,
                         ProgramObserver& observer) {
  RunReport report = PlannedRun(session, file, request);
  const std::unique_ptr<FlashImage> stamped = StampedImage(file, request);

  const std::int64_t started = MonotonicMs();
  report.run = ProgramImage(session.Link(), *stamped, observer, request.verify, request.identityCheck);
  report.programSeconds = static_cast<double>(MonotonicMs() - started) / kMsPerSecond;
  return report;
}

RunReport ProgramBoard(Session& session, const std::string& fileName, const RunRequest& request,
                       ProgramObserver& observer) {
  // The window reads S-records only; the other formats are the command line's.
  const FirmwareFile file = ReadFirmware(fileName, {ImageFormat::kSRecord});
  if (!file.read) {
    SayOnLink(session.Link(), DiagnosticLine(file.result == kProgramFileNotOpened ? "Cannot open S Record file %s: %s\n"
                                                                                  : "error reading S Record file %s: %s\n",
                                             fileName.c_str(), file.reason.c_str()));
  } else {
    for (const std::string& line : file.load.diagnostics) SayOnLink(session.Link(), line);
    observer.FileRead(file.size);
  }
  if (!file.Usable()) {
    RunReport report = SessionReport(session);
    report.stage = RunStage::kFile;
    report.file = FactsOf(file);
    return report;
  }
  return ProgramSession(session, file, request, observer);
}
