#pragma once

// One board programmed outside a line's loop (tovrin-cli program), kept as a
// line keeps its boards: the run log, the trace and capture and the station
// database opened first (a station whose record cannot be kept programs
// nothing), the file read once, the run, and its record appended to the run
// log and given to the database through the line's own record code.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "line/station_record.h"
#include "run/firmware_file.h"
#include "run/one_board.h"
#include "run/run_record.h"
#include "station/serial_store.h"

struct OneBoardRun {
  BoardAddress board;     // a watcher of its link, if given, watches beside the trace and capture
  std::string file;
  InputChoice input;
  ProgramChoice choice;
  std::string logFile;    // empty: no run log
  std::string traceFile;  // empty: none
  std::string pcapFile;   // empty: none
  std::string dbTarget;   // the station database; empty: none
  StationWho who;         // who the database's record names
  // When the command began: the record's seconds count from here.
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  // A front end's own check of the file read (an approved job): true when it
  // refuses the file, with the report saying so. Null: none.
  std::function<bool(FirmwareFile&, RunReport&)> refusesFile;
};

struct OneBoardOutcome {
  RunReport report;
  Json record;            // the run's record, as the run log and the database got it
  std::string logLost;    // why the run log did not take it; empty: it did (or none)
  StoreError stored;      // the database's answer (none: no database)
  std::vector<std::string> wireLosses;  // a line per trace or capture that did not take every event
};

OneBoardOutcome ProgramAndRecord(const OneBoardRun& run, BoardObserver& observer);
