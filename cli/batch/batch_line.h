#pragma once

// What the slots of one batch share: the serial numbers, the run log, the
// count of boards, and what ends every slot at once. A batch on one port has
// one slot; a gang has one per network port, each on a thread of its own, so
// every call here may come from any of them.

#include <cstdint>
#include <mutex>
#include <string>

#include "cli/cli_options.h"
#include "cli/output/run_log.h"
#include "cli/serial_state.h"

// A serial number for a board, or why it gets none.
struct SerialGrant {
  std::string serial;  // empty when refused
  int refusal = 0;     // the exit status of a refusal
  std::string message;
  bool endsLine = false;  // no board on any slot can get a number either
};

class BatchLine {
 public:
  BatchLine(const CliOptions& options, const SerialState& state, int logFd)
      : options_(options), state_(state), logFd_(logFd) {}
  BatchLine(const BatchLine&) = delete;
  BatchLine& operator=(const BatchLine&) = delete;

  // The one allocation: a board whose serial number was handed out from STATE
  // is refused (unless --allow-repeat), otherwise it gets the next number,
  // durable before it returns. Slots take turns, so no number goes out twice.
  SerialGrant GrantSerial(const std::string& foundOnBoard);
  // The number the next board gets, or "none" when they are used up.
  std::string NextSerial();
  SerialState State();
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
  SerialState state_;
  std::string first_;
  std::string last_;
  int logFd_;
  int claimed_ = 0;
  int lastFailure_ = 0;
  int endStatus_ = 0;
  std::string ending_;
};
