#pragma once

// A job: everything a line needs to program a product, fixed by the engineer
// who released it, as one JSON file (docs/jobs.md). This reads and writes the
// file; what a station allows of one is job_check.h.

#include <cstdint>
#include <string>

#include "flash/load_stats.h"
#include "flash/program_image.h"

// The newest job_version this tool reads; a newer job is refused, since it may
// fix something this tool would silently ignore.
constexpr int kJobVersion = 1;

namespace job_const {
constexpr std::size_t kMaxJobBytes = 64u << 10;  // a job is a few hundred bytes
constexpr std::size_t kMaxNameBytes = 200;
constexpr long long kMaxCount = 1000000;  // as batch --count
}  // namespace job_const

struct Job {
  int version = kJobVersion;
  std::string name;
  std::string firmwareFile;    // relative to the job's folder, '/' between folders
  std::string firmwareSha256;  // 64 lower-case hex digits
  ImageFormat format = ImageFormat::kSRecord;  // never kAuto: the job says what it is
  std::uint32_t base = 0;      // kBinary only: the flash address of the first byte
  std::string revision;        // one character
  std::string serialFrom;      // the first serial number of the line's range
  VerifyMode verify = VerifyMode::kFrames;  // kFrames or kFull, never none
  std::string expectHardware;
  long long count = 0;         // 0: no count fixed
  std::string validUntil;      // "YYYY-MM-DD" (UTC, the day included); empty: no end
};

enum class JobParse {
  kOk,
  kNotJson,       // not one JSON object
  kNewerVersion,  // job_version above kJobVersion
  kBadField,      // a field missing, of the wrong type or value, or unknown
};

struct JobParseResult {
  JobParse status = JobParse::kOk;
  std::string detail;  // which field, and why, for the operator
};

// Reads a job from the file's bytes; every field is checked.
JobParseResult ParseJob(const std::string& bytes, Job& job);

// The job's file text: the fields in a fixed order, one per line, ending in a
// line end. ParseJob gives back the same job.
std::string JobText(const Job& job);

// The firmware's path: the job's file name relative to the folder `jobPath`
// lies in.
std::string FirmwarePathOf(const std::string& jobPath, const Job& job);
// The signature's path beside the job: JOB.sig.
std::string SignaturePathOf(const std::string& jobPath);
// `path` written relative to the folder of `jobPath` when it lies in that
// folder or below, for job create; empty when it does not.
std::string RelativeToJob(const std::string& jobPath, const std::string& path);
