#include "line/production_line.h"

#include "common/text.h"
#include "line/station_record.h"

namespace {

constexpr double kSecondsPerHour = 3600;

// A board that carries no serial number (a blank one from the maker) cannot be
// told from the next blank one, so it never counts as met before.
bool Tellable(const IdentityBlock& identity) { return !DescribeIdentity(identity).serialNumber.empty(); }

}  // namespace

SerialGrant Unserved(const StoreError& e) {
  SerialGrant grant;
  switch (e.failure) {
    case StoreFailure::kNone:
    case StoreFailure::kUnusable:
    case StoreFailure::kConflict:  // neither comes from handing a number out
    case StoreFailure::kLeaseHeld: grant.refusal = Refusal::kStoreUnusable; break;
    case StoreFailure::kUsedUp: grant.refusal = Refusal::kSerialsUsedUp; break;
    case StoreFailure::kUnsupported: grant.refusal = Refusal::kStoreUnsupported; break;
  }
  grant.message = "No serial number: " + Printable(e.message) + ". Nothing was erased.";
  grant.ending = EndingOf(e.failure);
  return grant;
}

SerialGrant StoreRange::Take(const std::string& /*slot*/, const BoardClaim& claim) {
  SerialGrant grant;
  if (const StoreError e = store_.Allocate(claim, grant.allocation); e.Failed()) return Unserved(e);
  return grant;
}

std::string StoreRange::Next() {
  NextSerialInfo next;
  if (store_.Next(next).Failed()) return "";
  return next.next.empty() ? "none" : Printable(next.next);
}

double BoardsPerHour(int passed, double seconds) { return seconds > 0 ? passed * kSecondsPerHour / seconds : 0; }

double LineFigures::FirstPassYield() const {
  const int met = passed + failed - retries;
  return met > 0 ? static_cast<double>(firstPass) / met : 0;
}

double LineFigures::BoardsPerHour() const { return ::BoardsPerHour(passed, seconds); }

double LineFigures::SecondsPerBoard() const { return passed > 0 ? passedSeconds / passed : 0; }

ProductionLine::ProductionLine(const LineConfig& config, SerialStore& store, std::string storeName,
                               bool keepsRecords, RecordSink* records, SerialSource* numbers)
    : config_(config),
      store_(store),
      range_(store),
      numbers_(numbers != nullptr ? numbers : &range_),
      storeName_(std::move(storeName)),
      keepsRecords_(keepsRecords),
      records_(records) {}

SerialGrant ProductionLine::GrantSerial(const RunReport& report, const std::string& slotName,
                                        const std::function<bool()>& awaitSerial) {
  std::unique_lock lock(mutex_);
  SerialGrant grant;
  const std::string found = DescribeIdentity(report.identityBefore).serialNumber;
  bool repeat = false;
  // A board that failed on this line carries the number its run stamped: it
  // comes back to be programmed again, and is no repeat.
  const bool retry = Tellable(report.identityBefore) && failedIdentities_.count(report.identityBefore) > 0;
  if (!config_.allowRepeat && !retry) {
    if (const StoreError e = store_.HandedOut(found, repeat); e.Failed()) return Unserved(e);
  }
  if (repeat) {
    grant.refusal = Refusal::kRepeat;
    grant.message = "Board already programmed: serial number " + Printable(found) + " was handed out from " +
                    Printable(storeName_) + ". Nothing was erased.";
    return grant;
  }
  // A board that will be refused is refused before anyone is asked for a number.
  if (awaitSerial) {
    lock.unlock();
    if (!awaitSerial()) {
      grant.stopped = true;
      return grant;
    }
    lock.lock();
  }
  const StationWho who{config_.command, slotName.empty() ? config_.board : slotName, config_.operatorName};
  grant = numbers_->Take(slotName, ClaimFor(who, report));
  if (grant.allocation.serial.empty()) return grant;
  if (first_.empty()) first_ = grant.allocation.serial;
  last_ = grant.allocation.serial;
  return grant;
}

bool ProductionLine::AwaitSerial(const std::string& slotName, const std::function<void()>& waiting,
                                 const std::function<bool()>& stopping) {
  return numbers_->Await(slotName, waiting, stopping);
}

BindAnswer ProductionLine::BindSerial(const std::string& slotName, const std::string& serial) {
  std::lock_guard lock(mutex_);
  return numbers_->Bind(slotName, serial);
}

void ProductionLine::SerialEnded(const std::string& slotName, const std::string& serial, bool passed) {
  std::lock_guard lock(mutex_);
  numbers_->Ended(slotName, serial, passed);
}

StoreError ProductionLine::Record(const RunReport& report, const Allocation& allocation, const std::string& slotName,
                                  const std::string& json) {
  std::lock_guard lock(mutex_);
  const StationWho who{config_.command, slotName.empty() ? config_.board : slotName, config_.operatorName};
  const StoredRun stored = StoredRunOf(who, report, json);
  return report.Programmed() ? store_.Finish(allocation, RunEndOf(report, stored)) : store_.RecordRun(stored);
}

std::string ProductionLine::NextSerial() {
  std::lock_guard lock(mutex_);
  return numbers_->Next();
}

std::string ProductionLine::FirstSerial() {
  std::lock_guard lock(mutex_);
  return first_;
}

std::string ProductionLine::LastSerial() {
  std::lock_guard lock(mutex_);
  return last_;
}

bool ProductionLine::ClaimBoard() {
  std::lock_guard lock(mutex_);
  if (config_.count > 0 && claimed_ >= config_.count) return false;
  ++claimed_;
  return true;
}

bool ProductionLine::AllClaimed() {
  std::lock_guard lock(mutex_);
  return config_.count > 0 && claimed_ >= config_.count;
}

std::string ProductionLine::Append(const Json& record) {
  std::lock_guard lock(mutex_);
  return records_ != nullptr ? records_->Append(record) : "";
}

void ProductionLine::Failed(const RunReport& report, const IdentityBlock* stamped) {
  std::lock_guard lock(mutex_);
  if (report.identityRead && Tellable(report.identityBefore)) failedIdentities_.insert(report.identityBefore);
  if (stamped != nullptr && Tellable(*stamped)) failedIdentities_.insert(*stamped);
  lastFailure_ = report;
}

bool ProductionLine::IsRetry(const IdentityBlock& identity) {
  std::lock_guard lock(mutex_);
  return Tellable(identity) && failedIdentities_.count(identity) > 0;
}

std::optional<RunReport> ProductionLine::LastFailure() {
  std::lock_guard lock(mutex_);
  return lastFailure_;
}

void ProductionLine::End(LineEnding ending, const std::string& why) {
  std::lock_guard lock(mutex_);
  if (ending_ != LineEnding::kNone) return;
  ending_ = ending;
  endingText_ = why;
}

bool ProductionLine::Ended() {
  std::lock_guard lock(mutex_);
  return ending_ != LineEnding::kNone;
}

LineEnding ProductionLine::Ending() {
  std::lock_guard lock(mutex_);
  return ending_;
}

std::string ProductionLine::EndingText() {
  std::lock_guard lock(mutex_);
  return endingText_;
}
