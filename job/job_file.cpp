#include "job/job_file.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <set>

#include "flash/image_format.h"
#include "link/frames.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kSha256HexDigits = 64;
constexpr std::size_t kSerialMax = 15;  // the identity record's serial field

const std::set<std::string> kJobKeys = {"job_version", "name",   "firmware", "revision",        "serial_from",
                                        "verify",      "count",  "valid_until", "expect_hardware"};
const std::set<std::string> kFirmwareKeys = {"file", "sha256", "format", "base"};

bool IsLowerHex(const std::string& text, std::size_t digits) {
  if (text.size() != digits) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool IsPrintableAscii(const std::string& text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// YYYY-MM-DD with a month and day that exist.
bool IsDate(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
    if (!IsDigit(text[i])) return false;
  }
  const int year = std::stoi(text.substr(0, 4));
  const int month = std::stoi(text.substr(5, 2));
  const int day = std::stoi(text.substr(8, 2));
  constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return !(month == 2 && day == 29 && !leap);
}

// A relative name that stays inside the job's folder: no root, no drive, no "..".
bool IsInsideName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\' || name.find(':') != std::string::npos) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

JobParseResult Bad(const std::string& detail) { return {JobParse::kBadField, detail}; }

const Json* Field(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

// A required text field, or an empty result with why.
bool TextField(const Json& object, const char* key, bool required, std::string& value, JobParseResult& why) {
  const Json* field = Field(object, key);
  if (field == nullptr) {
    if (required) why = Bad(std::string("\"") + key + "\" is missing");
    return !required;
  }
  if (!field->is_string()) {
    why = Bad(std::string("\"") + key + "\" is not text");
    return false;
  }
  value = field->get<std::string>();
  return true;
}

JobParseResult ParseFirmware(const Json& firmware, Job& job) {
  if (!firmware.is_object()) return Bad("\"firmware\" is not an object");
  for (const auto& item : firmware.items()) {
    if (!kFirmwareKeys.count(item.key())) return Bad("\"firmware\" has an unknown field \"" + item.key() + "\"");
  }
  JobParseResult why;
  if (!TextField(firmware, "file", true, job.firmwareFile, why)) return why;
  if (!IsInsideName(job.firmwareFile)) {
    return Bad("\"firmware\".\"file\" is not a name inside the job's folder: " + job.firmwareFile);
  }
  if (!TextField(firmware, "sha256", true, job.firmwareSha256, why)) return why;
  if (!IsLowerHex(job.firmwareSha256, kSha256HexDigits)) {
    return Bad("\"firmware\".\"sha256\" is not 64 lower-case hex digits");
  }
  std::string format = "srec";
  if (!TextField(firmware, "format", false, format, why)) return why;
  if (format == "auto" || !ParseFormatName(format, job.format)) {
    return Bad("\"firmware\".\"format\" is not one of srec, ihex, elf, bin: " + format);
  }
  const Json* base = Field(firmware, "base");
  if (base != nullptr) {
    if (job.format != ImageFormat::kBinary) return Bad("\"firmware\".\"base\" applies only to the format bin");
    if (!base->is_number_unsigned() || base->get<std::uint64_t>() >= kFlashSize) {
      return Bad("\"firmware\".\"base\" is not a flash address (0 to 131071)");
    }
    job.base = static_cast<std::uint32_t>(base->get<std::uint64_t>());
  }
  return {};
}

}  // namespace

JobParseResult ParseJob(const std::string& bytes, Job& job) {
  job = Job{};
  const Json json = Json::parse(bytes, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return {JobParse::kNotJson, "the job is not one JSON object"};
  // The version first: a newer job is refused as newer, whatever else it holds.
  const Json* version = Field(json, "job_version");
  if (version == nullptr || !version->is_number_integer() || version->get<long long>() < 1) {
    return Bad("\"job_version\" is missing or not a whole number from 1");
  }
  if (version->get<long long>() > kJobVersion) {
    return {JobParse::kNewerVersion, "the job is version " + std::to_string(version->get<long long>()) +
                                         ", newer than this tool's " + std::to_string(kJobVersion)};
  }
  job.version = static_cast<int>(version->get<long long>());
  // A misspelt field would otherwise be a setting silently not applied.
  for (const auto& item : json.items()) {
    if (!kJobKeys.count(item.key())) return Bad("unknown field \"" + item.key() + "\"");
  }
  JobParseResult why;
  if (!TextField(json, "name", true, job.name, why)) return why;
  if (job.name.empty() || job.name.size() > job_const::kMaxNameBytes || !IsPrintableAscii(job.name)) {
    return Bad("\"name\" is not 1 to 200 printable ASCII characters");
  }
  const Json* firmware = Field(json, "firmware");
  if (firmware == nullptr) return Bad("\"firmware\" is missing");
  if (why = ParseFirmware(*firmware, job); why.status != JobParse::kOk) return why;
  if (!TextField(json, "revision", true, job.revision, why)) return why;
  if (job.revision.size() != 1) return Bad("\"revision\" is not exactly one character");
  if (!TextField(json, "serial_from", true, job.serialFrom, why)) return why;
  if (job.serialFrom.empty() || job.serialFrom.size() > kSerialMax || !IsPrintableAscii(job.serialFrom) ||
      !IsDigit(job.serialFrom.back())) {
    return Bad("\"serial_from\" is not 1 to 15 printable ASCII characters ending in digits");
  }
  std::string verify;
  if (!TextField(json, "verify", true, verify, why)) return why;
  if (verify != "frames" && verify != "full") return Bad("\"verify\" is neither \"frames\" nor \"full\"");
  job.verify = verify == "full" ? VerifyMode::kFull : VerifyMode::kFrames;
  if (!TextField(json, "expect_hardware", true, job.expectHardware, why)) return why;
  if (job.expectHardware.empty() || job.expectHardware.size() > static_cast<std::size_t>(identity::kHardwareLength)) {
    return Bad("\"expect_hardware\" is not 1 to " + std::to_string(identity::kHardwareLength) + " characters");
  }
  if (const Json* count = Field(json, "count")) {
    if (!count->is_number_integer() || count->get<long long>() < 1 || count->get<long long>() > job_const::kMaxCount) {
      return Bad("\"count\" is not a whole number from 1 to " + std::to_string(job_const::kMaxCount));
    }
    job.count = count->get<long long>();
  }
  if (!TextField(json, "valid_until", false, job.validUntil, why)) return why;
  if (Field(json, "valid_until") != nullptr && !IsDate(job.validUntil)) {
    return Bad("\"valid_until\" is not a date YYYY-MM-DD");
  }
  return {};
}

std::string JobText(const Job& job) {
  Json firmware{{"file", job.firmwareFile}, {"sha256", job.firmwareSha256}};
  if (job.format != ImageFormat::kSRecord) firmware["format"] = FormatName(job.format);
  if (job.format == ImageFormat::kBinary) firmware["base"] = job.base;
  Json json{{"job_version", job.version}, {"name", job.name},
            {"firmware", firmware},       {"revision", job.revision},
            {"serial_from", job.serialFrom}, {"verify", job.verify == VerifyMode::kFull ? "full" : "frames"},
            {"expect_hardware", job.expectHardware}};
  if (job.count > 0) json["count"] = job.count;
  if (!job.validUntil.empty()) json["valid_until"] = job.validUntil;
  // Invalid UTF-8 cannot reach here: ParseJob and job create take ASCII only.
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

namespace {
// The folder part of a path with its last separator, or empty.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}
}  // namespace

std::string FirmwarePathOf(const std::string& jobPath, const Job& job) { return FolderOf(jobPath) + job.firmwareFile; }

std::string SignaturePathOf(const std::string& jobPath) { return jobPath + ".sig"; }

std::string RelativeToJob(const std::string& jobPath, const std::string& path) {
  const std::string folder = FolderOf(jobPath);
  std::string rest = path;
  if (!folder.empty()) {
    if (path.compare(0, folder.size(), folder) != 0) return "";
    rest = path.substr(folder.size());
  }
  while (rest.compare(0, 2, "./") == 0) rest.erase(0, 2);
  return IsInsideName(rest) ? rest : "";
}
