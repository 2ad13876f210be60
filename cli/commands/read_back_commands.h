#pragma once

// What read and compare share: the board reached with the trace watching, the
// read-back done on it, and how each way the command can end is printed and
// exits.

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "line/wire_record.h"
#include "flash/flash_read.h"
#include "run/run_record.h"
#include "run/run_report.h"
#include "run/session.h"

// Opens the --trace and --pcap files into `watch` and the session, and runs
// `readBack` on the board once its identity was read. The report says how far
// the session got (kConnected when the read-back ran), or why the command
// refused to start (a file that cannot be opened: 13, nothing sent). The link
// is closed in every case; the caller ends with watch.Finish.
RunReport WithBoard(const CliOptions& options, std::FILE* diag, WireRecord& watch,
                    const std::function<void(Session&)>& readBack);

// How a read-back command ended, in its record and for the shell.
struct ReadBackEnding {
  Json result;
  std::string message;
  std::optional<RunCause> cause;
  int status = 0;
};

// Ended before any read: the session's outcome (connect, identity, a stop
// while connecting) or the refusal.
ReadBackEnding EndingBeforeRead(const RunReport& report);

// A read that did not end whole: stopped (the interrupt's status and
// "interrupted") or failed (17).
ReadBackEnding EndingOfRead(const FlashRead& read, const std::string& stoppedBy);

// The board's part of the JSON object: board, link, identity (null where the
// session did not get that far).
void PutBoard(Json& json, const RunReport& report);

// The message, then "Cause: ..." when there is one.
void PrintEnding(std::FILE* out, const ReadBackEnding& ending);
