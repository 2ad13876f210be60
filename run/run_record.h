#pragma once

// The record of one run, as every command that programs a board writes it: on
// standard output under --json, as a line of the run log, and into the station's
// database. One function makes it, so the keys, the escaping and the meaning of
// every field are the same everywhere; docs/run-record.md describes it.

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "run/run_report.h"

using Json = nlohmann::ordered_json;

// Raised when a field changes meaning or goes away; new fields do not raise it.
constexpr int kRunRecordVersion = 1;

// The numbers a record's "result" takes for a run that ended before the erase
// for want of a board; after it, the ProgramResult (0..7) or "interrupted";
// "skipped" for a run that found the board already holding its image.
namespace run_result {
constexpr int kConnectFailed = 10;
constexpr int kIdentityFailed = 11;
// A board refused before its erase, by the reason (Refusal).
constexpr int kWrongHardware = 12;
constexpr int kRecordUnwritable = 13;
constexpr int kStoreUnusable = 14;
constexpr int kRepeatRefused = 15;
constexpr int kSerialsUsedUp = 16;
constexpr int kStoreUnsupported = 64;
constexpr int kNotTheJobsFirmware = 20;
}  // namespace run_result

// Where the run happened, as the front end knows it.
struct RecordContext {
  std::string command;        // "program", "batch", ...
  std::string interfaceName;  // the network port a slot is bound to; empty: none
  int slot = 0;               // from 1 when several run at once; 0: none
  double seconds = 0;         // the run as the front end timed it
};

Json RunRecord(const RunReport& report, const RecordContext& context);

// The record's "result": see run_result above.
int RefusalResult(Refusal refusal);
Json RunResultJson(const RunReport& report);

// Seconds since `start`, to the millisecond, as records give them.
double SecondsSince(std::chrono::steady_clock::time_point start);

// One line with no line end.
std::string JsonLine(const Json& value);

// Puts `key` (the bytes as UTF-8 text, escaped where they are not UTF-8) into
// object and, when they are not UTF-8, `key`_hex: their exact bytes as hex, from
// which they are recovered.
void PutText(Json& object, const std::string& key, std::string_view bytes);

// revision, serial, hardware (each as PutText) and the 16 bytes as hex.
Json IdentityJson(const IdentityBlock& block);
// {"command", "frame", "address", "what"}, or null.
Json CauseJson(const std::optional<RunCause>& cause);
