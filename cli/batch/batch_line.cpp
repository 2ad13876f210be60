#include "cli/batch/batch_line.h"

#include "cli/commands/station_run.h"
#include "cli/exit_codes.h"
#include "cli/output/text_output.h"

namespace {

// A store that cannot hand out or check a number serves no board on any slot.
SerialGrant Unserved(const StoreError& e) {
  SerialGrant grant;
  grant.refusal = e.status;
  grant.message = "No serial number: " + Printable(e.message) + ". Nothing was erased.";
  grant.endsLine = true;
  return grant;
}

}  // namespace

SerialGrant BatchLine::GrantSerial(const RunReport& report, const std::string& slotName) {
  std::lock_guard lock(mutex_);
  SerialGrant grant;
  const std::string found = DescribeIdentity(report.identityBefore).serialNumber;
  bool repeat = false;
  if (!options_.allowRepeat) {
    if (const StoreError e = store_->HandedOut(found, repeat); e.Failed()) return Unserved(e);
  }
  if (repeat) {
    grant.refusal = exit_code::kRepeatRefused;
    grant.message = "Board already programmed: serial number " + Printable(found) + " was handed out from " +
                    Printable(storeName_) + ". Nothing was erased.";
    return grant;
  }
  if (const StoreError e = store_->Allocate(ClaimFor(options_, report, slotName), grant.allocation); e.Failed()) {
    return Unserved(e);
  }
  if (first_.empty()) first_ = grant.allocation.serial;
  last_ = grant.allocation.serial;
  return grant;
}

StoreError BatchLine::Record(const RunReport& report, const Allocation& allocation, const std::string& slotName,
                             const std::string& json) {
  std::lock_guard lock(mutex_);
  const StoredRun stored = StoredRunOf(options_, report, slotName, json);
  return report.Programmed() ? store_->Finish(allocation, RunEndOf(report, stored)) : store_->RecordRun(stored);
}

std::string BatchLine::NextSerial() {
  std::lock_guard lock(mutex_);
  NextSerialInfo next;
  if (store_ == nullptr || store_->Next(next).Failed()) return "";
  return next.next.empty() ? "none" : Printable(next.next);
}

std::string BatchLine::FirstSerial() {
  std::lock_guard lock(mutex_);
  return first_;
}

std::string BatchLine::LastSerial() {
  std::lock_guard lock(mutex_);
  return last_;
}

bool BatchLine::ClaimBoard() {
  std::lock_guard lock(mutex_);
  if (options_.count > 0 && claimed_ >= options_.count) return false;
  ++claimed_;
  return true;
}

bool BatchLine::AllClaimed() {
  std::lock_guard lock(mutex_);
  return options_.count > 0 && claimed_ >= options_.count;
}

LogWrite BatchLine::Append(const Json& record) {
  std::lock_guard lock(mutex_);
  return AppendRunLog(logFd_, record);
}

void BatchLine::Failed(int status) {
  std::lock_guard lock(mutex_);
  lastFailure_ = status;
}

int BatchLine::LastFailure() {
  std::lock_guard lock(mutex_);
  return lastFailure_;
}

void BatchLine::End(int status, const std::string& why) {
  std::lock_guard lock(mutex_);
  if (endStatus_ != 0) return;
  endStatus_ = status;
  ending_ = why;
}

bool BatchLine::Ended() {
  std::lock_guard lock(mutex_);
  return endStatus_ != 0;
}

int BatchLine::EndStatus() {
  std::lock_guard lock(mutex_);
  return endStatus_;
}

std::string BatchLine::Ending() {
  std::lock_guard lock(mutex_);
  return ending_;
}
