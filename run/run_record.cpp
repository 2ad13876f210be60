#include "run/run_record.h"

#include <cmath>

#include "common/text.h"

namespace {

Json LoadJson(const FileFacts& file) {
  const LoadReport& load = file.load;
  if (load.line == 0 && load.reason.empty() && file.reason.empty()) return nullptr;
  // A file that could not be read has no record to name, only a reason.
  return Json{{"line", load.line},
              {"record", Utf8OrEscaped(load.record)},
              {"reason", file.reason.empty() ? load.reason : file.reason}};
}

const char* VerifyName(VerifyMode verify) {
  switch (verify) {
    case VerifyMode::kNone: return "none";
    case VerifyMode::kFrames: return "frames";
    case VerifyMode::kFull: return "full";
  }
  return "none";
}

// How the read-back before the erase ended (program --skip-if-same); null
// when the run did not read the board back first.
Json CompareJson(const RunReport& report) {
  if (!report.compared) return nullptr;
  const FlashRead& read = *report.compared;
  Json json{{"same", nullptr}};
  if (read.end == ReadEnd::kWhole) json["same"] = true;
  if (read.end == ReadEnd::kDiffers) {
    json["same"] = false;
    json["first_difference"] = FlashAddress(read.address);
  }
  if (read.end == ReadEnd::kFailed) {
    json["address"] = FlashAddress(read.address);
    json["what"] = DescribeOutcome(read.outcome);
  }
  json["reads"] = read.reads;
  json["seconds"] = report.compareSeconds;
  return json;
}

}  // namespace

std::string JsonLine(const Json& value) {
  // Every text put in is UTF-8 already (PutText); replace is a last guard.
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void PutText(Json& object, const std::string& key, std::string_view bytes) {
  object[key] = Utf8OrEscaped(bytes);
  if (!IsUtf8(bytes)) object[key + "_hex"] = HexBytes(bytes);
}

Json IdentityJson(const IdentityBlock& block) {
  const IdentityTexts texts = DescribeIdentity(block);
  Json identity = Json::object();
  PutText(identity, "revision", texts.revision);
  PutText(identity, "serial", texts.serialNumber);
  PutText(identity, "hardware", texts.hardware);
  identity["bytes"] = HexBytes(block.data(), block.size());
  return identity;
}

Json CauseJson(const std::optional<RunCause>& cause) {
  if (!cause) return nullptr;
  Json json = Json::object();
  if (cause->command) json["command"] = CommandName(*cause->command);
  if (cause->frame > 0) json["frame"] = cause->frame;
  if (cause->hasAddress) json["address"] = FlashAddress(cause->address);
  json["what"] = cause->what;
  return json;
}

int RefusalResult(Refusal refusal) {
  switch (refusal) {
    case Refusal::kNone: return 0;
    case Refusal::kWrongHardware: return run_result::kWrongHardware;
    case Refusal::kRecordUnwritable: return run_result::kRecordUnwritable;
    case Refusal::kStoreUnusable: return run_result::kStoreUnusable;
    case Refusal::kRepeat: return run_result::kRepeatRefused;
    case Refusal::kSerialsUsedUp: return run_result::kSerialsUsedUp;
    case Refusal::kStoreUnsupported: return run_result::kStoreUnsupported;
    case Refusal::kNotTheJobsFirmware: return run_result::kNotTheJobsFirmware;
  }
  return 0;
}

Json RunResultJson(const RunReport& report) {
  if (report.Interrupted()) return "interrupted";
  switch (report.stage) {
    case RunStage::kFile: return report.file.result;
    case RunStage::kConnect: return run_result::kConnectFailed;
    case RunStage::kIdentity: return run_result::kIdentityFailed;
    case RunStage::kConnected: return 0;
    case RunStage::kRefused: return RefusalResult(report.refusal);
    case RunStage::kProgram: return report.run.result;
    case RunStage::kSkipped: return "skipped";
  }
  return nullptr;
}

Json RunRecord(const RunReport& report, const RecordContext& context) {
  Json written = nullptr;
  if (report.Programmed()) {
    written = Json::object();
    PutText(written, "revision", report.revision.substr(0, 1));
    PutText(written, "serial", report.serial);
  }
  Json record{{"record_version", kRunRecordVersion}, {"command", context.command}, {"board", report.board}};
  if (!context.interfaceName.empty()) record["interface"] = context.interfaceName;
  if (context.slot > 0) record["slot"] = context.slot;
  record["link"] = report.connected ? Json(LinkTypeText(report.transport)) : Json(nullptr);
  record["identity_before"] = report.identityRead ? IdentityJson(report.identityBefore) : Json(nullptr);
  record["written"] = written;
  PutText(record, "file", report.file.name);
  record["sha256"] = report.file.sha256.empty() ? Json(nullptr) : Json(report.file.sha256);
  record["format"] = report.file.format.empty() ? Json(nullptr) : Json(report.file.format);
  record["load"] = LoadJson(report.file);
  // The approved job the run came from: null without one, a null signer for a
  // job that was not signed.
  const ApprovedJob& job = report.file.job;
  record["job"] = job.name.empty() ? Json(nullptr)
                                   : Json{{"name", job.name},
                                          {"sha256", job.sha256},
                                          {"signer", job.signer.empty() ? Json(nullptr) : Json(job.signer)}};
  record["frames"] = Json{{"planned", report.run.framesPlanned},
                          {"acknowledged", report.run.framesAcknowledged},
                          {"unsent_bytes", report.plan.unsentBytes}};
  record["verify"] = VerifyName(report.verify);
  record["compare"] = CompareJson(report);
  record["stamp_sent"] = report.run.stampSent;
  record["result"] = RunResultJson(report);
  record["message"] = RunMessage(report);
  record["cause"] = CauseJson(CauseOf(report));
  record["seconds"] = context.seconds;
  record["connect_seconds"] = report.connectSeconds;
  record["program_seconds"] = report.programSeconds;
  return record;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return std::round(elapsed.count() * 1000.0) / 1000.0;
}
