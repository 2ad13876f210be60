// tovrin-cli job create|show|sign, and --job: what a station allows of a job
// is job/'s; here it meets the command line's options, words and exit status.

#include "cli/commands/job_command.h"

#include <cstdio>

#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/output/text_output.h"
#include "flash/image_format.h"
#include "job/job_crypto.h"
#include "os/files.h"
#include "run/run_record.h"
#include "run/sha256.h"

namespace {

// A refusal before anything was opened: the words, and under --json the one
// object the result stream carries.
int Refuse(const CliOptions& options, const CliStreams& streams, int status, const std::string& message) {
  std::fprintf(streams.err, "tovrin-cli: %s. Nothing was sent.\n", Printable(message).c_str());
  if (options.json) {
    Json report{{"result", status}};
    PutText(report, "message", message + ". Nothing was sent.");
    std::fprintf(streams.out, "%s\n", JsonLine(report).c_str());
  }
  std::fflush(streams.out);
  return status;
}

// The options a job fixes, by the names the command line gives them.
std::vector<std::string> FixedOptions(const CliOptions& options, const Job& job) {
  std::vector<std::string> fixed = {"FILE", "--format", "--base", "--rev", "--verify", "--expect-hardware"};
  if (options.command == CliCommand::kBatch) {
    fixed.push_back("--serial-from");
    if (job.count > 0) fixed.push_back("--count");
  }
  return fixed;
}

TrustLoad LoadStationTrust(const CliOptions& options, TrustList& trust) {
  return LoadTrust(options.job.trustedKeys, options.job.trustFolder, trust);
}

Json JobJson(const OpenedJob& opened, const std::string& signature, const std::string& firmware) {
  const Job& job = opened.job;
  Json json{{"job_version", job.version}, {"name", job.name}, {"sha256", opened.facts.sha256}};
  PutText(json, "firmware", opened.firmwarePath);
  json["firmware_sha256"] = job.firmwareSha256;
  json["firmware_matches"] = firmware;
  json["format"] = FormatName(job.format);
  json["revision"] = job.revision;
  json["serial_from"] = job.serialFrom;
  json["verify"] = job.verify == VerifyMode::kFull ? "full" : "frames";
  json["expect_hardware"] = job.expectHardware;
  json["count"] = job.count > 0 ? Json(job.count) : Json(nullptr);
  json["valid_until"] = job.validUntil.empty() ? Json(nullptr) : Json(job.validUntil);
  json["signature"] = signature;
  json["signer"] = opened.facts.signer.empty() ? Json(nullptr) : Json(opened.facts.signer);
  return json;
}

int RunJobCreate(const CliOptions& options, const CliStreams& streams) {
  const std::string relative = RelativeToJob(options.outFile, options.file);
  if (relative.empty()) {
    std::fprintf(streams.err, "tovrin-cli: the firmware %s does not lie in the folder of the job %s or below\n",
                 Printable(options.file).c_str(), Printable(options.outFile).c_str());
    return exit_code::kUsage;
  }
  FirmwareFile firmware = ReadFirmware(options.file, options.input);
  if (!firmware.Usable()) {
    std::fprintf(streams.err, "tovrin-cli: %s: %s %s\n", Printable(options.file).c_str(),
                 ProgramResultMessage(firmware.result), Printable(firmware.reason + firmware.load.reason).c_str());
    return firmware.result;
  }
  Job job;
  job.name = options.job.name;
  job.firmwareFile = relative;
  job.firmwareSha256 = firmware.sha256;
  job.format = firmware.load.format;
  job.base = options.input.base;
  job.revision = options.revision;
  job.serialFrom = options.serialFrom;
  job.verify = options.job.verify == "full" ? VerifyMode::kFull : VerifyMode::kFrames;
  job.expectHardware = options.expectHardware;
  job.count = options.count;
  job.validUntil = options.job.validUntil;
  // The text written is read back as a station reads it: what it refuses is
  // refused here, with the same words.
  const std::string text = JobText(job);
  Job again;
  if (const JobParseResult parsed = ParseJob(text, again); parsed.status != JobParse::kOk) {
    std::fprintf(streams.err, "tovrin-cli: not a job: %s\n", parsed.detail.c_str());
    return exit_code::kUsage;
  }
  std::string error;
  if (!ReplaceFileDurably(options.outFile, text, error)) {
    std::fprintf(streams.err, "tovrin-cli: cannot write the job %s: %s\n", Printable(options.outFile).c_str(),
                 error.c_str());
    return exit_code::kLogUnwritable;
  }
  std::fprintf(streams.out, "Wrote the job %s: %s, firmware %s (SHA-256 %s); sign it before a station runs it\n",
               Printable(options.outFile).c_str(), job.name.c_str(), Printable(relative).c_str(),
               job.firmwareSha256.c_str());
  return 0;
}

int RunJobShow(const CliOptions& options, const CliStreams& streams) {
  TrustList trust;
  if (const TrustLoad loaded = LoadStationTrust(options, trust); !loaded.ok) {
    return Refuse(options, streams, exit_code::kJobUnreadable, loaded.message);
  }
  const OpenedJob opened = OpenJob(options.job.file, trust, UtcToday());
  if (opened.refusal == JobRefusal::kUnreadable || opened.refusal == JobRefusal::kNewerVersion) {
    return Refuse(options, streams, JobExitStatus(opened.refusal), opened.message);
  }
  const bool sigThere = ReadRegularFile(SignaturePathOf(options.job.file), key_const::kMaxSignatureBytes).status ==
                        FileReadStatus::kRead;
  const std::string signature = !sigThere                       ? "none"
                                : !trust.Set()                  ? "not checked: no trusted keys"
                                : opened.facts.signer.empty()   ? "does not verify with any trusted key"
                                                                : "verified";
  FirmwareFile firmware = ReadFirmware(opened.firmwarePath, JobInput(opened.job));
  std::string differs;
  const std::string matches = !firmware.read ? "unreadable"
                              : CheckJobFirmware(opened, firmware, differs) == JobRefusal::kNone ? "yes"
                                                                                                 : "no";
  int status = JobExitStatus(opened.refusal);
  if (status == 0 && matches != "yes") status = firmware.read ? exit_code::kJobFirmwareDiffers : firmware.result;
  if (options.json) {
    Json json = JobJson(opened, signature, matches);
    json["result"] = status;
    PutText(json, "message", opened.Accepted() ? (differs.empty() ? "The job would run" : differs) : opened.message);
    std::fprintf(streams.out, "%s\n", JsonLine(json).c_str());
    return status;
  }
  const Job& job = opened.job;
  std::FILE* out = streams.out;
  std::fprintf(out, "Job:             %s (job_version %d)\n", job.name.c_str(), job.version);
  std::fprintf(out, "Job SHA-256:     %s\n", opened.facts.sha256.c_str());
  std::fprintf(out, "Firmware:        %s (%s), SHA-256 %s: %s\n", Printable(opened.firmwarePath).c_str(),
               FormatName(job.format), job.firmwareSha256.c_str(),
               matches == "yes" ? "matches" : matches == "no" ? "DIFFERS" : "cannot be read");
  std::fprintf(out, "Revision:        %s\nSerial from:     %s\nVerify:          %s\nExpect hardware: %s\n",
               job.revision.c_str(), job.serialFrom.c_str(), job.verify == VerifyMode::kFull ? "full" : "frames",
               job.expectHardware.c_str());
  if (job.count > 0) std::fprintf(out, "Count:           %lld\n", job.count);
  if (!job.validUntil.empty()) std::fprintf(out, "Valid until:     %s (UTC)\n", job.validUntil.c_str());
  std::fprintf(out, "Signed:          %s%s\n", signature == "verified" ? "by " : "",
               signature == "verified" ? opened.facts.signer.c_str() : signature.c_str());
  if (!opened.Accepted()) std::fprintf(out, "Refused: %s\n", opened.message.c_str());
  if (!differs.empty()) std::fprintf(out, "Refused: %s\n", Printable(differs).c_str());
  return status;
}

int RunJobSign(const CliOptions& options, const CliStreams& streams) {
  const FileBytes job = ReadRegularFile(options.job.file, job_const::kMaxJobBytes);
  const FileBytes key = ReadRegularFile(options.job.keyFile, key_const::kMaxKeyFileBytes);
  Job parsed;
  std::string why;
  if (job.status != FileReadStatus::kRead) {
    why = "cannot read the job " + Printable(options.job.file) + ": " + job.reason;
  } else if (const JobParseResult p = ParseJob(job.bytes, parsed); p.status != JobParse::kOk) {
    why = "the job " + Printable(options.job.file) + " is not one this tool runs: " + p.detail;
  } else if (key.status != FileReadStatus::kRead) {
    why = "cannot read the key " + Printable(options.job.keyFile) + ": " + key.reason;
  }
  if (!why.empty()) {
    std::fprintf(streams.err, "tovrin-cli: %s\n", why.c_str());
    return exit_code::kJobUnreadable;
  }
  const JobSigning signing = SignJob(job.bytes, key.bytes);
  if (!signing.ok) {
    std::fprintf(streams.err, "tovrin-cli: the key %s %s\n", Printable(options.job.keyFile).c_str(),
                 signing.message.c_str());
    return exit_code::kJobUnreadable;
  }
  const std::string sigPath = SignaturePathOf(options.job.file);
  std::string error;
  if (!ReplaceFileDurably(sigPath, std::string(signing.signature.begin(), signing.signature.end()), error)) {
    std::fprintf(streams.err, "tovrin-cli: cannot write %s: %s\n", Printable(sigPath).c_str(), error.c_str());
    return exit_code::kLogUnwritable;
  }
  std::fprintf(streams.out, "Signed %s with the key %s: %s\n", Printable(options.job.file).c_str(),
               signing.signer.fingerprint.c_str(), Printable(sigPath).c_str());
  return 0;
}

}  // namespace

int RunJob(const CliOptions& options, const CliStreams& streams) {
  switch (options.job.action) {
    case JobAction::kCreate: return RunJobCreate(options, streams);
    case JobAction::kShow: return RunJobShow(options, streams);
    case JobAction::kSign: return RunJobSign(options, streams);
  }
  return exit_code::kInternal;
}

int ApplyJob(CliOptions& options, const CliStreams& streams) {
  if (options.command != CliCommand::kProgram && options.command != CliCommand::kBatch) return kRunCommand;
  TrustList trust;
  if (const TrustLoad loaded = LoadStationTrust(options, trust); !loaded.ok) {
    return Refuse(options, streams, exit_code::kJobUnreadable, loaded.message);
  }
  if (options.job.file.empty()) {
    // A station set to trust keys runs approved jobs only: a file given by hand
    // would bypass them all.
    if (!trust.Set()) return kRunCommand;
    return Refuse(options, streams, exit_code::kJobNotTrusted,
                  "This station trusts the keys in " + options.job.trustFolder + " and runs only jobs signed by one (--job JOB)");
  }
  OpenedJob opened = OpenJob(options.job.file, trust, UtcToday());
  if (!opened.Accepted()) return Refuse(options, streams, JobExitStatus(opened.refusal), opened.message);
  // Operators cannot change what the engineer fixed: a usage error, as any
  // command line that asks for two things at once.
  for (const std::string& fixed : FixedOptions(options, opened.job)) {
    for (const std::string& given : options.job.given) {
      if (given == fixed) {
        options.usageError = fixed + " cannot be given with --job: the job " + Printable(options.job.file) + " fixes it";
        std::fprintf(streams.err, "tovrin-cli: %s\n", options.usageError.c_str());
        return exit_code::kUsage;
      }
    }
  }
  const Job& job = opened.job;
  options.file = opened.firmwarePath;
  options.input = JobInput(job);
  options.revision = job.revision;
  options.revisionGiven = true;
  options.serialFrom = job.serialFrom;
  options.verify = job.verify;
  options.expectHardware = job.expectHardware;
  if (job.count > 0) options.count = static_cast<int>(job.count);
  options.job.opened = std::move(opened);
  return kRunCommand;
}

bool JobRefusesFirmware(const CliOptions& options, FirmwareFile& file, RunReport& report) {
  if (options.job.file.empty()) return false;
  std::string message;
  const JobRefusal refusal = CheckJobFirmware(options.job.opened, file, message);
  if (refusal == JobRefusal::kNone) return false;
  report = RefusedFileReport(file);
  report.file.job = options.job.opened.facts;
  report.stage = RunStage::kRefused;
  // The only refusal a firmware meets once its job was accepted.
  report.refusal = Refusal::kNotTheJobsFirmware;
  report.refusalMessage = message + ". Nothing was sent.";
  return true;
}
