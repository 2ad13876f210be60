#pragma once

// One slot of a batch: the loop of a station's port. Wait for a board to
// answer, take its serial number from the line, program it, record it, wait
// for it to go, and again, until the count is met, no board comes, the line
// ends or a stop is asked for.

#include <cstdio>
#include <string>

#include "cli/batch/batch_line.h"
#include "cli/batch/slot_output.h"
#include "cli/cli_options.h"
#include "cli/output/wire_record.h"
#include "run/firmware_file.h"

struct SlotSetup {
  int slot = 0;               // from 1 in a gang; 0 for a batch on one port
  std::string interfaceName;  // the port its sockets are tied to; empty: none
  LinkObserver* trace = nullptr;     // the trace and capture's view of this slot
  const WireRecord* wire = nullptr;  // the files behind it, to tell when one was lost
  std::FILE* diag = nullptr;         // where a close the system refuses is told
};

SlotSummary RunSlot(const SlotSetup& setup, const CliOptions& options, const FirmwareFile& image, BatchLine& line,
                    SlotOutput& output);
