#include "run/program_run.h"

#include <algorithm>
#include <memory>

#include "common/log_line.h"
#include "flash/identity_stamp.h"
#include "link/socket_platform.h"

namespace {
constexpr double kMsPerSecond = 1000.0;
}

namespace {

std::unique_ptr<FlashImage> Stamped(const FirmwareFile& file, const RunRequest& request) {
  auto stamped = std::make_unique<FlashImage>(*file.image);
  StampIdentity(*stamped, request.serial, request.revision);
  return stamped;
}

}  // namespace

std::size_t PlannedFrames(const FirmwareFile& file, const RunRequest& request) {
  return PlanFrames(*Stamped(file, request)).starts.size();
}

IdentityBlock IdentityAfter(const FirmwareFile& file, const RunRequest& request) {
  const std::unique_ptr<FlashImage> stamped = Stamped(file, request);
  IdentityBlock block{};
  std::copy_n(stamped->begin() + identity::kFlashOffset, block.size(), block.begin());
  return block;
}

RunReport ProgramSession(Session& session, const FirmwareFile& file, const RunRequest& request,
                         ProgramObserver& observer) {
  RunReport report = SessionReport(session);
  report.file = FactsOf(file);
  report.stage = RunStage::kProgram;
  report.revision = request.revision;
  report.serial = request.serial.substr(0, kSerialStampMax);
  report.verify = request.verify;

  const std::unique_ptr<FlashImage> stamped = Stamped(file, request);
  report.plan = PlanFrames(*stamped);

  const std::int64_t started = MonotonicMs();
  report.run = ProgramImage(session.Link(), *stamped, observer, request.verify);
  report.programSeconds = static_cast<double>(MonotonicMs() - started) / kMsPerSecond;
  return report;
}

RunReport ProgramBoard(Session& session, const std::string& fileName, const RunRequest& request,
                       ProgramObserver& observer) {
  // The window reads S-records only; the other formats are the command line's.
  const FirmwareFile file = ReadFirmware(fileName, {ImageFormat::kSRecord});
  if (!file.read) {
    LogLine(file.result == kProgramFileNotOpened ? "Cannot open S Record file %s: %s\n"
                                                 : "error reading S Record file %s: %s\n",
            fileName.c_str(), file.reason.c_str());
  } else {
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
