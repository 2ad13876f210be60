#pragma once

// What a command that runs boards tells the station's serial store: who claims
// a number, how the run ended, and whether the frame carrying the identity
// record went out (a failed run that never sent it gives its number back).

#include <string>

#include "cli/cli_options.h"
#include "run/run_report.h"
#include "station/serial_store.h"

// `slotName`: the network port the board was reached on, or empty for the
// board's address.
BoardClaim ClaimFor(const CliOptions& options, const RunReport& report, const std::string& slotName = "");

// The run as the runs table keeps it, beside its whole JSON record.
StoredRun StoredRunOf(const CliOptions& options, const RunReport& report, const std::string& slotName,
                      const std::string& json);

RunEnd RunEndOf(const RunReport& report, const StoredRun& stored);
