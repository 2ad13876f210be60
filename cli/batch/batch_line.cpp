#include "cli/batch/batch_line.h"

#include "cli/exit_codes.h"
#include "cli/output/text_output.h"

SerialGrant BatchLine::GrantSerial(const std::string& found) {
  std::lock_guard lock(mutex_);
  SerialGrant grant;
  if (!options_.allowRepeat && HandedOut(state_, found)) {
    grant.refusal = exit_code::kRepeatRefused;
    grant.message = "Board already programmed: serial number " + Printable(found) + " was handed out from " +
                    Printable(options_.stateFile) + ". Nothing was erased.";
    return grant;
  }
  std::string error;
  if (!TakeSerial(options_.stateFile, state_, grant.serial, error)) {
    grant.serial.clear();
    grant.refusal = state_.exhausted ? exit_code::kSerialsExhausted : exit_code::kStateUnusable;
    grant.message = "No serial number: " + error + ". Nothing was erased.";
    grant.endsLine = true;
    return grant;
  }
  if (first_.empty()) first_ = grant.serial;
  last_ = grant.serial;
  return grant;
}

std::string BatchLine::NextSerial() {
  std::lock_guard lock(mutex_);
  return state_.exhausted ? "none" : Printable(state_.next);
}

SerialState BatchLine::State() {
  std::lock_guard lock(mutex_);
  return state_;
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
