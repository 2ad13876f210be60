#pragma once

// What `tovrin-cli db` was asked to do with the station database.

#include <string>

#include "station/db_tasks.h"

struct DbOptions {
  DbAction action = DbAction::kReport;
  std::string serial;     // release, find; report's --serial
  std::string stateFile;  // import-state
  // report's filters: empty filters nothing
  std::string from;
  std::string to;
  std::string station;
  std::string result;
  std::string job;  // a job's name
  bool csv = false;
};
