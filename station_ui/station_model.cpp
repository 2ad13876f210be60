#include "station_ui/station_model.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <nlohmann/json.hpp>

namespace station_ui {

namespace {

using nlohmann::json;

// Text from a board or a file may not be UTF-8; the stream must still be JSON.
std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

double Rate(int boards, std::int64_t seconds) {
  const std::int64_t span = std::max(seconds, model_const::kMinRateSeconds);
  return static_cast<double>(boards) * 3600.0 / static_cast<double>(span);
}

json CountersJson(const Counters& c, std::int64_t runningSeconds) {
  const int boards = c.passed + c.failed;
  json out;
  out["passed"] = c.passed;
  out["failed"] = c.failed;
  // No boards yet: no yield to show, rather than a 0 % that looks like a fault.
  out["firstPassYield"] = c.firstTries > 0 ? json(100.0 * c.firstTryPassed / c.firstTries) : json(nullptr);
  out["boardsPerHour"] = boards > 0 && runningSeconds > 0 ? json(Rate(boards, runningSeconds)) : json(nullptr);
  out["meanSeconds"] = boards > 0 ? json(c.busySeconds / boards) : json(nullptr);
  return out;
}

// A CSV field: quoted when it holds a separator, a quote or a line end, and
// never starting with what a spreadsheet would run as a formula.
std::string CsvField(const std::string& text) {
  std::string field = text;
  if (!field.empty() && (field[0] == '=' || field[0] == '+' || field[0] == '-' || field[0] == '@')) {
    field.insert(field.begin(), '\'');
  }
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string IsoTime(std::int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

void Count(Counters& c, const BoardOutcome& outcome) {
  (outcome.passed ? c.passed : c.failed) += 1;
  c.busySeconds += outcome.seconds;
  if (!outcome.retry) {
    c.firstTries += 1;
    if (outcome.passed) c.firstTryPassed += 1;
  }
}

}  // namespace

const char* SlotStateName(SlotState state) {
  switch (state) {
    case SlotState::kIdle: return "idle";
    case SlotState::kWaiting: return "waiting";
    case SlotState::kProgramming: return "programming";
    case SlotState::kPassed: return "passed";
    case SlotState::kFailed: return "failed";
    case SlotState::kStopped: return "stopped";
  }
  return "idle";
}

const char* LineStateName(LineState state) {
  switch (state) {
    case LineState::kIdle: return "idle";
    case LineState::kRunning: return "running";
    case LineState::kStopping: return "stopping";
    case LineState::kEnded: return "ended";
  }
  return "idle";
}

StationModel::StationModel(std::vector<std::string> ports, Clock clock)
    : ports_(std::move(ports)), clock_(clock ? std::move(clock) : Clock([] { return std::chrono::system_clock::now(); })) {
  slots_.resize(ports_.size());
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    slots_[i].port = ports_[i];
    slots_[i].message = "Not started";
  }
}

void StationModel::SetListener(std::function<void()> listener) { listener_ = std::move(listener); }

std::int64_t StationModel::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock_().time_since_epoch()).count();
}

void StationModel::Notify() {
  if (listener_) listener_();
}

void StationModel::PushLocked(const std::string& kind, const std::string& body) {
  ++seq_;
  ModelEvent event;
  event.seq = seq_;
  event.json = "{\"seq\":" + std::to_string(seq_) + ",\"kind\":\"" + kind + "\",\"" + kind + "\":" + body + "}";
  ring_.push_back(std::move(event));
  while (ring_.size() > model_const::kEventRing) ring_.pop_front();
}

void StationModel::PushSlotLocked(int slot) { PushLocked("slot", SlotJsonLocked(slot)); }
void StationModel::PushLineLocked() { PushLocked("line", LineJsonLocked()); }

void StationModel::SetJob(const JobFacts& job) {
  Change([&] {
    job_ = job;
    PushLocked("job", JobJsonLocked());
  });
}

void StationModel::SetNextSerial(const std::string& serial) {
  Change([&] {
    job_.nextSerial = serial;
    PushLocked("job", JobJsonLocked());
  });
}

void StationModel::LineStarted() {
  Change([&] {
    lineState_ = LineState::kRunning;
    summary_.clear();
    if (shiftStartMs_ == 0) shiftStartMs_ = NowMs();
    PushLineLocked();
  });
}

void StationModel::LineStopping() {
  Change([&] {
    if (lineState_ == LineState::kRunning) lineState_ = LineState::kStopping;
    PushLineLocked();
  });
}

void StationModel::LineEnded(const std::string& summary) {
  Change([&] {
    lineState_ = LineState::kEnded;
    summary_ = summary;
    PushLineLocked();
  });
}

void StationModel::SlotWaiting(int slot) {
  ChangeSlot(slot, [&](Slot& s) {
    s.state = SlotState::kWaiting;
    s.identitySeen = false;
    s.identity = {};
    s.serial.clear();
    s.acked = s.total = 0;
    s.cause.clear();
    s.startedMs = 0;
    s.boardPresent = false;
    s.message = "Waiting for a board";
  });
}

void StationModel::SlotBoardSeen(int slot, const BoardIdentity& identity) {
  ChangeSlot(slot, [&](Slot& s) {
    s.state = SlotState::kProgramming;
    s.identitySeen = true;
    s.identity = identity;
    s.serial.clear();
    s.acked = s.total = 0;
    s.cause.clear();
    s.startedMs = NowMs();
    s.boardPresent = true;
    s.message = "Board found";
  });
}

void StationModel::SlotWaitingForSerial(int slot) {
  ChangeSlot(slot, [&](Slot& s) {
    s.state = SlotState::kWaiting;
    s.message = "Scan the board's label";
  });
}

void StationModel::SlotProgramming(int slot, const std::string& serial, int acked, int total) {
  ChangeSlot(slot, [&](Slot& s) {
    s.state = SlotState::kProgramming;
    if (s.startedMs == 0) s.startedMs = NowMs();
    s.serial = serial;
    s.acked = std::max(0, acked);
    s.total = std::max(0, total);
    s.boardPresent = true;
    s.message = "Programming";
  });
}

void StationModel::SlotBoardDone(int slot, const BoardOutcome& outcome) {
  if (!ValidSlot(slot)) return;
  Change([&] {
    Slot& s = slots_[slot];
    const std::int64_t now = NowMs();
    s.state = outcome.passed ? SlotState::kPassed : SlotState::kFailed;
    s.serial = outcome.serial;
    s.cause = outcome.passed ? "" : outcome.cause;
    s.seconds = outcome.seconds;
    s.startedMs = 0;
    if (outcome.passed) s.acked = s.total;
    s.message = outcome.passed ? "Passed: take the board away" : "Failed: take the board away";
    Count(s.counters, outcome);
    Count(line_, outcome);

    BoardRow row;
    row.timeMs = now;
    row.slot = slot;
    row.serial = outcome.serial;
    row.passed = outcome.passed;
    row.cause = s.cause;
    row.seconds = outcome.seconds;
    row.recordJson = outcome.recordJson;
    history_.push_back(row);
    while (history_.size() > model_const::kHistoryKept) history_.pop_front();
    perHour_[now / 1000 / 3600 * 3600] += 1;
    if (!outcome.passed) causes_[s.cause.empty() ? "Unknown" : s.cause] += 1;

    PushLocked("board", RowJsonLocked(row));
    PushSlotLocked(slot);
    PushLineLocked();
  });
}

void StationModel::SlotWatchingGo(int slot) {
  ChangeSlot(slot, [&](Slot& s) {
    s.boardPresent = true;
  });
}

void StationModel::SlotEnded(int slot, const std::string& summary) {
  ChangeSlot(slot, [&](Slot& s) {
    // A failed board still in its slot stays red: it has not been taken away.
    if (!(s.state == SlotState::kFailed && s.boardPresent)) s.state = SlotState::kStopped;
    s.startedMs = 0;
    s.message = summary;
  });
}

void StationModel::SlotNextSerial(int slot, const std::string& serial) {
  ChangeSlot(slot, [&](Slot& s) {
    s.nextSerial = serial;
  });
}

std::string StationModel::SlotJsonLocked(int slot) const {
  const Slot& s = slots_[slot];
  const std::int64_t running = shiftStartMs_ == 0 ? 0 : (NowMs() - shiftStartMs_) / 1000;
  json out;
  out["index"] = slot;
  out["port"] = s.port;
  out["state"] = SlotStateName(s.state);
  out["identity"] = s.identitySeen ? json{{"revision", s.identity.revision},
                                          {"serial", s.identity.serial},
                                          {"hardware", s.identity.hardware}}
                                   : json(nullptr);
  out["serial"] = s.serial;
  out["acked"] = s.acked;
  out["total"] = s.total;
  out["cause"] = s.cause;
  out["message"] = s.message;
  out["nextSerial"] = s.nextSerial;
  out["startedAt"] = s.startedMs == 0 ? json(nullptr) : json(s.startedMs);
  out["seconds"] = s.seconds;
  out["boardPresent"] = s.boardPresent;
  out["counters"] = CountersJson(s.counters, running);
  return Dump(out);
}

std::string StationModel::LineJsonLocked() const {
  const std::int64_t now = NowMs();
  const std::int64_t running = shiftStartMs_ == 0 ? 0 : (now - shiftStartMs_) / 1000;
  json perHour = json::array();
  for (const auto& [hour, boards] : perHour_) perHour.push_back({{"hour", hour}, {"boards", boards}});
  json causes = json::array();
  for (const auto& [cause, count] : causes_) causes.push_back({{"cause", cause}, {"count", count}});
  json out;
  out["state"] = LineStateName(lineState_);
  out["summary"] = summary_;
  out["shiftStart"] = shiftStartMs_ == 0 ? json(nullptr) : json(shiftStartMs_);
  out["counters"] = CountersJson(line_, running);
  out["perHour"] = perHour;
  out["causes"] = causes;
  return Dump(out);
}

std::string StationModel::JobJsonLocked() const {
  json out;
  out["jobName"] = job_.jobName;
  out["jobSigner"] = job_.jobSigner;
  out["fileName"] = job_.fileName;
  out["sha256"] = job_.sha256;
  out["format"] = job_.format;
  out["revision"] = job_.revision;
  out["scan"] = job_.scan;
  out["serialSource"] = job_.serialSource;
  out["nextSerial"] = job_.nextSerial;
  out["verify"] = job_.verify;
  out["expectHardware"] = job_.expectHardware;
  out["count"] = job_.count;
  return Dump(out);
}

std::string StationModel::RowJsonLocked(const BoardRow& row) const {
  json out;
  out["time"] = row.timeMs;
  out["slot"] = row.slot;
  out["port"] = ports_[row.slot];
  out["serial"] = row.serial;
  out["result"] = row.passed ? "passed" : "failed";
  out["cause"] = row.cause;
  out["seconds"] = row.seconds;
  return Dump(out);
}

std::string StationModel::SnapshotJson() const {
  std::lock_guard lock(mutex_);
  std::string slots = "[";
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (i > 0) slots += ',';
    slots += SlotJsonLocked(static_cast<int>(i));
  }
  slots += ']';
  std::string history = "[";
  const std::size_t shown = std::min(history_.size(), model_const::kHistoryShown);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) history += ',';
    history += RowJsonLocked(history_[history_.size() - 1 - i]);
  }
  history += ']';
  return "{\"seq\":" + std::to_string(seq_) + ",\"now\":" + std::to_string(NowMs()) + ",\"job\":" + JobJsonLocked() +
         ",\"line\":" + LineJsonLocked() + ",\"slots\":" + slots + ",\"history\":" + history + "}";
}

EventsSince StationModel::ChangesSince(std::uint64_t since) const {
  std::lock_guard lock(mutex_);
  EventsSince out;
  out.last = seq_;
  if (since == seq_) return out;
  // The oldest change kept must directly follow what the reader has seen; a
  // reader ahead of the station saw a station that has since restarted.
  if (since > seq_ || ring_.empty() || ring_.front().seq > since + 1) {
    out.resync = true;
    return out;
  }
  for (const ModelEvent& event : ring_) {
    if (event.seq > since) out.events.push_back(event);
  }
  return out;
}

std::uint64_t StationModel::Sequence() const {
  std::lock_guard lock(mutex_);
  return seq_;
}

std::string StationModel::HistoryJson() const {
  std::lock_guard lock(mutex_);
  std::string out = "[";
  for (std::size_t i = 0; i < history_.size(); ++i) {
    if (i > 0) out += ',';
    out += RowJsonLocked(history_[history_.size() - 1 - i]);
  }
  return out + "]";
}

std::string StationModel::ShiftCsv() const {
  std::lock_guard lock(mutex_);
  std::string out = "time,slot,port,serial,result,cause,seconds\r\n";
  for (const BoardRow& row : history_) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", row.seconds);
    out += IsoTime(row.timeMs) + ',' + std::to_string(row.slot) + ',' + CsvField(ports_[row.slot]) + ',' +
           CsvField(row.serial) + ',' + (row.passed ? "passed" : "failed") + ',' + CsvField(row.cause) + ',' +
           seconds + "\r\n";
  }
  return out;
}

std::string StationModel::RunLog() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const BoardRow& row : history_) {
    if (row.recordJson.empty()) continue;
    out += row.recordJson;
    out += '\n';
  }
  return out;
}

}  // namespace station_ui
