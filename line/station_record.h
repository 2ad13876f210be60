#pragma once

// What a front end that runs boards tells the station's serial store: who
// claims a number, how the run ended, and whether the frame carrying the
// identity record went out (a failed run that never sent it gives its number
// back).

#include <string>

#include "run/run_report.h"
#include "station/serial_store.h"

// Who a store's records name for a board.
struct StationWho {
  std::string command;       // "batch", "program"
  std::string slot;          // the network port the board was reached on, else its address
  std::string operatorName;  // empty: the user the process runs as
};

BoardClaim ClaimFor(const StationWho& who, const RunReport& report);

// The run as the runs table keeps it, beside its whole JSON record.
StoredRun StoredRunOf(const StationWho& who, const RunReport& report, const std::string& json);

RunEnd RunEndOf(const RunReport& report, const StoredRun& stored);
