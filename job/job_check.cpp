#include "job/job_check.h"

#include <chrono>
#include <cstdio>

#include "job/job_crypto.h"
#include "os/files.h"
#include "run/sha256.h"

namespace {

std::string Sha256Of(const std::string& bytes) {
  return Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Days since 1970-01-01 to a civil date (the proleptic Gregorian calendar).
std::string DateOfDays(long long days) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long monthIndex = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const long long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", year, month, day);
  return text;
}

OpenedJob Refused(OpenedJob opened, JobRefusal refusal, std::string message) {
  opened.refusal = refusal;
  opened.message = std::move(message);
  return opened;
}

}  // namespace

std::string StationTrustFolder() { return MachineSettingsPath("trusted-keys"); }

std::string UtcToday() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return DateOfDays(std::chrono::duration_cast<std::chrono::hours>(now).count() / 24);
}

InputChoice JobInput(const Job& job) {
  InputChoice input;
  input.format = job.format;
  input.base = job.base;
  input.baseGiven = job.format == ImageFormat::kBinary;
  return input;
}

TrustLoad LoadTrust(const std::vector<std::string>& keyFiles, const std::string& stationFolder, TrustList& trust) {
  std::vector<std::string> files = keyFiles;
  if (!stationFolder.empty()) {
    std::vector<std::string> inFolder;
    std::string reason;
    if (FilesEndingIn(stationFolder, ".pem", inFolder, reason) == FolderList::kUnreadable) {
      return {false, "Cannot read the folder of trusted keys " + stationFolder + ": " + reason};
    }
    files.insert(files.end(), inFolder.begin(), inFolder.end());
  }
  for (const std::string& file : files) {
    const FileBytes text = ReadRegularFile(file, key_const::kMaxKeyFileBytes);
    if (text.status != FileReadStatus::kRead) return {false, "Cannot read the trusted key " + file + ": " + text.reason};
    PublicKey key;
    switch (ParsePublicKeyPem(text.bytes, key)) {
      case KeyRead::kOk: break;
      case KeyRead::kNoPublicKey: return {false, "The trusted key " + file + " holds no PEM public key"};
      case KeyRead::kNotP256: return {false, "The trusted key " + file + " is not a P-256 public key"};
    }
    trust.keys.push_back(key);
    trust.files.push_back(file);
  }
  return {};
}

OpenedJob OpenJob(const std::string& path, const TrustList& trust, const std::string& today) {
  OpenedJob opened;
  opened.path = path;
  const FileBytes bytes = ReadRegularFile(path, job_const::kMaxJobBytes);
  if (bytes.status != FileReadStatus::kRead) {
    return Refused(opened, JobRefusal::kUnreadable, "Cannot read the job " + path + ": " + bytes.reason);
  }
  const JobParseResult parsed = ParseJob(bytes.bytes, opened.job);
  if (parsed.status == JobParse::kNewerVersion) {
    return Refused(opened, JobRefusal::kNewerVersion, "The job " + path + " is not for this tool: " + parsed.detail);
  }
  if (parsed.status != JobParse::kOk) {
    return Refused(opened, JobRefusal::kUnreadable, "The job " + path + " is not a valid job: " + parsed.detail);
  }
  opened.firmwarePath = FirmwarePathOf(path, opened.job);
  opened.facts.name = opened.job.name;
  opened.facts.sha256 = Sha256Of(bytes.bytes);

  // Without trusted keys there is nothing to check a signature with: the run
  // goes ahead and its record says the job was not signed.
  if (trust.Set()) {
    const std::string sigPath = SignaturePathOf(path);
    const FileBytes sig = ReadRegularFile(sigPath, key_const::kMaxSignatureBytes);
    if (sig.status == FileReadStatus::kMissing) {
      return Refused(opened, JobRefusal::kNotSigned,
                     "The job " + path + " is not signed (no " + sigPath + "), and this station runs only signed jobs");
    }
    const std::vector<std::uint8_t> der(sig.bytes.begin(), sig.bytes.end());
    bool malformed = sig.status != FileReadStatus::kRead;
    for (const PublicKey& key : trust.keys) {
      const SignatureCheck check = VerifySignature(key, bytes.bytes, der);
      if (check == SignatureCheck::kValid) {
        opened.facts.signer = key.fingerprint;
        break;
      }
      malformed = malformed || check == SignatureCheck::kMalformed;
      if (check == SignatureCheck::kFailed) {
        return Refused(opened, JobRefusal::kNoTrustedSigner, "The signature " + sigPath + " could not be checked: the system's library failed");
      }
    }
    if (malformed) {
      return Refused(opened, JobRefusal::kBadSignature, "The signature " + sigPath + " is not an ECDSA signature");
    }
    if (opened.facts.signer.empty()) {
      return Refused(opened, JobRefusal::kNoTrustedSigner,
                     "The signature " + sigPath + " does not verify with any key this station trusts: the job was "
                     "changed after it was signed, or signed by a key not trusted here");
    }
  }
  if (!opened.job.validUntil.empty() && today > opened.job.validUntil) {
    return Refused(opened, JobRefusal::kExpired,
                   "The job " + path + " expired: valid until " + opened.job.validUntil + " (UTC), today is " + today);
  }
  return opened;
}

JobRefusal CheckJobFirmware(const OpenedJob& opened, FirmwareFile& file, std::string& message) {
  // A file that could not be read ends the run with its own result.
  if (!file.read) return JobRefusal::kNone;
  if (file.sha256 != opened.job.firmwareSha256) {
    message = "The firmware " + file.name + " is not the job's: its SHA-256 is " + file.sha256 + ", the job names " +
              opened.job.firmwareSha256 + " (a rebuilt, edited or swapped file)";
    return JobRefusal::kFirmwareDiffers;
  }
  file.job = opened.facts;
  return JobRefusal::kNone;
}

JobSigning SignJob(const std::string& jobBytes, const std::string& privateKeyPem) {
  JobSigning signing;
  switch (SignMessage(privateKeyPem, jobBytes, signing.signature, signing.signer)) {
    case SignStatus::kSigned: signing.ok = true; break;
    case SignStatus::kNoPrivateKey: signing.message = "holds no private key (or one locked by a pass phrase)"; break;
    case SignStatus::kNotP256: signing.message = "is not a P-256 (prime256v1) key"; break;
    case SignStatus::kUnsupported:
      signing.message = "cannot sign on this system: sign with openssl dgst -sha256 -sign (docs/jobs.md)";
      break;
    case SignStatus::kFailed: signing.message = "could not be used: the system's library failed"; break;
  }
  return signing;
}
