#include "station_ui/station_job.h"

#include <vector>

#include "cli/exit_codes.h"
#include "common/text.h"

namespace station_ui {

namespace {

int Refuse(std::FILE* err, int status, const std::string& message) {
  std::fprintf(err, "tovrin-station: %s. Nothing was sent.\n", Printable(message).c_str());
  return status;
}

// The options a job fixes, by the names the command line gives them.
std::vector<std::string> FixedOptions(const Job& job) {
  std::vector<std::string> fixed = {"FILE", "--rev", "--verify", "--expect-hardware", "--serial-from",
                                    "--serial-source"};
  if (job.count > 0) fixed.push_back("--count");
  return fixed;
}

}  // namespace

int ApplyStationJob(StationOptions& options, OpenedJob& approved, std::FILE* err) {
  TrustList trust;
  if (const TrustLoad loaded = LoadTrust(options.trustedKeys, options.trustFolder, trust); !loaded.ok) {
    return Refuse(err, exit_code::kJobUnreadable, loaded.message);
  }
  if (options.jobFile.empty()) {
    // A station set to trust keys runs approved jobs only: a file given by
    // hand would bypass them all.
    if (!trust.Set()) return kRunStation;
    return Refuse(err, exit_code::kJobNotTrusted,
                  "This station trusts the keys in " + options.trustFolder + " and runs only jobs signed by one (--job JOB)");
  }
  OpenedJob opened = OpenJob(options.jobFile, trust, UtcToday());
  if (!opened.Accepted()) return Refuse(err, JobExitStatus(opened.refusal), opened.message);
  // What the engineer fixed, the operator cannot change.
  for (const std::string& fixed : FixedOptions(opened.job)) {
    for (const std::string& given : options.given) {
      if (given == fixed) {
        std::fprintf(err, "tovrin-station: %s cannot be given with --job: the job %s fixes it\n", fixed.c_str(),
                     Printable(options.jobFile).c_str());
        return kUsageExit;
      }
    }
  }
  const Job& job = opened.job;
  options.file = opened.firmwarePath;
  options.revision = job.revision;
  options.serialFrom = job.serialFrom;
  options.scanSerials = false;
  options.verify = job.verify == VerifyMode::kFull ? "full" : "frames";
  options.expectHardware = job.expectHardware;
  if (job.count > 0) options.count = static_cast<int>(job.count);
  approved = std::move(opened);
  return kRunStation;
}

std::string JobFirmwareRefusal(const OpenedJob& approved, FirmwareFile& file) {
  if (!HasJob(approved)) return "";
  std::string message;
  if (CheckJobFirmware(approved, file, message) == JobRefusal::kNone) return "";
  return message + ". Nothing was sent.";
}

}  // namespace station_ui
