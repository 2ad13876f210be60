#pragma once

// What a station allows of a job, decided before any board is reached: the job
// file read and checked, its signature (JOB.sig beside it) verified against the
// keys the station trusts, its date and version, and then the firmware read for
// the run held against the job's SHA-256. Each refusal has its own kind, which a
// front end turns into its exit status and words.

#include <string>
#include <vector>

#include "job/job_file.h"
#include "job/job_key.h"
#include "run/firmware_file.h"
#include "run/run_record.h"

enum class JobRefusal {
  kNone,
  kUnreadable,       // the job, its signature or a trusted key cannot be read, or is not one
  kFirmwareDiffers,  // the firmware's SHA-256 is not the job's
  kNotSigned,        // no JOB.sig, while the station trusts keys
  kBadSignature,     // JOB.sig is no ECDSA signature (DER) at all
  // JOB.sig verifies with no trusted key: the job was changed after it was
  // signed, or signed by a key the station does not trust. A bare signature
  // names no key, so the two cannot be told apart.
  kNoTrustedSigner,
  kExpired,          // past valid_until
  kNewerVersion,     // job_version above this tool's
};

// The keys a station accepts jobs from. Empty: any job runs, recorded as
// unsigned; a signature cannot be checked without a key to check it with.
struct TrustList {
  std::vector<PublicKey> keys;
  std::vector<std::string> files;  // where each came from
  bool Set() const { return !keys.empty(); }
};

struct TrustLoad {
  bool ok = true;
  std::string message;  // which file, and why, when not ok
};

// The keys of every file given and of every *.pem in `stationFolder` (when it
// exists). A file that holds no P-256 public key is refused, never skipped: a
// station that believed itself locked would otherwise take any job.
TrustLoad LoadTrust(const std::vector<std::string>& keyFiles, const std::string& stationFolder, TrustList& trust);

struct OpenedJob {
  JobRefusal refusal = JobRefusal::kNone;
  std::string message;       // why it was refused, in plain words
  Job job;
  std::string path;          // the job file
  std::string firmwarePath;  // the firmware, beside the job
  ApprovedJob facts;            // name, the job file's SHA-256, the signer
  bool Accepted() const { return refusal == JobRefusal::kNone; }
};

// Reads and checks the job at `path` for a run on `today` ("YYYY-MM-DD", UTC).
// The signature is checked over the very bytes that were parsed.
OpenedJob OpenJob(const std::string& path, const TrustList& trust, const std::string& today);

// Holds a firmware file, read once for the run, against its job: kNone (and
// the file carries the job's facts from then on) or kFirmwareDiffers.
JobRefusal CheckJobFirmware(const OpenedJob& opened, FirmwareFile& file, std::string& message);

// The station-wide folder of trusted keys: /etc/tovrin/trusted-keys on Linux,
// %ProgramData%\Tovrin\trusted-keys on Windows.
std::string StationTrustFolder();

// Today's date in UTC, "YYYY-MM-DD".
std::string UtcToday();

// The InputChoice a job's firmware is read with.
InputChoice JobInput(const Job& job);

// The signature of a job's bytes, for tovrin-cli job sign and tovrin-station:
// the path of the key file and its PEM text are the caller's.
struct JobSigning {
  bool ok = false;
  std::string message;
  std::vector<std::uint8_t> signature;  // DER, for JOB.sig
  PublicKey signer;
};
JobSigning SignJob(const std::string& jobBytes, const std::string& privateKeyPem);
