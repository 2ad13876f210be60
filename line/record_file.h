#pragma once

// The files a command keeps its records in (the run log, the trace) and STATE
// are regular files and nothing else: a FIFO with no reader would hold the open
// for good, or with one swallow every record; a device such as /dev/null, a
// disk or a terminal keeps nothing a station can look at later; a folder cannot
// be written. Each is refused before anything is sent.

#include <string>

// Empty when `path` is a regular file or nothing yet (or cannot be looked up,
// which its open then explains); otherwise why it is refused: "not a regular
// file: a FIFO".
std::string NotARecordFile(const std::string& path);

// Opens `path` to append, creating it when missing and never truncating it, for
// the run log and the trace: a descriptor (CloseAppendFile), or -1 with the
// reason for the operator.
int OpenRecordFile(const std::string& path, std::string& reason);
