#pragma once

// The record a production line keeps: one JSON line per programming run,
// appended to a file that several stations may share, with the SHA-256 of the
// file that was sent so a board can be traced to the exact image.

#include <string>

#include "run/run_record.h"

// The file opened for appending (created if missing, a regular file only); -1
// with the reason. It is opened for reading too, when allowed, so a record can
// check how the file ends.
int OpenRunLog(const std::string& path, std::string& reason);

// Empty when the record was written whole; otherwise why not, for the operator.
struct LogWrite {
  bool written = false;
  std::string reason;
};

// Writes {"time": now in UTC, ...record} as one line in one write, so lines from
// stations sharing the file do not interleave. A file whose last line was left
// unfinished (a full disk, a station that died) gets a line end first, so the
// new record stays a line of its own.
LogWrite AppendRunLog(int fd, const Json& record);
