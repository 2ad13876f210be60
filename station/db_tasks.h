#pragma once

// What the people who run a line ask of the station database, one task at a
// time: make it (or bring its schema up to date), the numbers whose run never
// ended, release one, the runs, one board's history, a range started where a
// STATE file left off. A front end asks and shows the answer.

#include <string>
#include <vector>

#include "station/serial_store.h"

enum class DbAction { kInit, kPending, kRelease, kReport, kFind, kImportState };

struct DbTask {
  DbAction action = DbAction::kReport;
  std::string target;        // a SQLite file or a postgresql:// URL
  std::string serial;        // release, find
  std::string stateFile;     // import-state
  ReportFilter filter;       // report
  std::string operatorName;  // release: who releases; empty: the user the process runs as
};

struct DbAnswer {
  StoreError error;  // the first failure; nothing below it is filled
  std::string kind;  // "SQLite", "PostgreSQL"
  std::vector<AllocationRow> allocations;  // pending, find
  std::vector<RunRow> runs;                // report, find
  AllocationRow released;                  // release
  std::string releasedBy;                  // release
};

// Opens the database (init creates it when missing; every other task refuses
// one that is not there) and does the task.
DbAnswer RunDbTask(const DbTask& task);
