#pragma once

// The record a production line keeps: one JSON line per programming run,
// appended to a file that several stations may share, with the SHA-256 of the
// file that was sent so a board can be traced to the exact image.

#include <string>

#include "cli/json_report.h"

// The file opened for appending (created if missing); -1 with errno set.
int OpenRunLog(const std::string& path);

// Writes {"time": now in UTC, ...record} as one line in one write, so lines from
// stations sharing the file do not interleave. False when the write failed.
bool AppendRunLog(int fd, const Json& record);
