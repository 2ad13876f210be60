#pragma once

// What the slots of one batch share: the serial numbers, the run log, the
// count of boards, and what ends every slot at once. A batch on one port has
// one slot; a gang has one per network port, each on a thread of its own, so
// every call here may come from any of them.

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "cli/cli_options.h"
#include "cli/output/run_log.h"
#include "run/run_report.h"
#include "station/serial_store.h"

// A serial number for a board, or why it gets none.
struct SerialGrant {
  Allocation allocation;  // its serial is empty when refused
  int refusal = 0;        // the exit status of a refusal
  std::string message;
  bool endsLine = false;  // no board on any slot can get a number either
};

class BatchLine {
 public:
  // `store` hands out the numbers (STATE or the station database; null when
  // the batch ended before its first board); `storeName` names it for the
  // operator.
  BatchLine(const CliOptions& options, SerialStore* store, std::string storeName, int logFd)
      : options_(options), store_(store), storeName_(std::move(storeName)), logFd_(logFd) {}
  BatchLine(const BatchLine&) = delete;
  BatchLine& operator=(const BatchLine&) = delete;

  // The one allocation: a board whose serial number was handed out from the
  // store is refused (unless --allow-repeat), otherwise it gets the next
  // number, durable before it returns, claimed by `slotName`. Slots take turns
  // (and the store locks against other stations), so no number goes out twice.
  SerialGrant GrantSerial(const RunReport& report, const std::string& slotName);
  // With the station database: the run's end and record, on its allocation
  // (or without one, for a board that got no number).
  StoreError Record(const RunReport& report, const Allocation& allocation, const std::string& slotName,
                    const std::string& json);
  // The number the next board gets (another station may take it first), for
  // a person: "none" when they are used up; empty when the store cannot say.
  std::string NextSerial();
  // The first and the last number handed out on any slot.
  std::string FirstSerial();
  std::string LastSerial();

  // --count across slots: true when this board is one of the N. A slot whose
  // board comes after the last one leaves it as it is.
  bool ClaimBoard();
  // Every board asked for has been met; slots that wait for one stop.
  bool AllClaimed();

  // One record to the run log, one slot at a time.
  LogWrite Append(const Json& record);

  // A failed board's status, as the batch's exit status when nothing else ends it.
  void Failed(int status);
  int LastFailure();

  // Ends every slot at its next wait (runs under way finish): the first reason stays.
  void End(int status, const std::string& why);
  bool Ended();
  int EndStatus();
  std::string Ending();

 private:
  const CliOptions& options_;
  std::mutex mutex_;  // guards everything below
  SerialStore* store_;
  std::string storeName_;
  std::string first_;
  std::string last_;
  int logFd_;
  int claimed_ = 0;
  int lastFailure_ = 0;
  int endStatus_ = 0;
  std::string ending_;
};
