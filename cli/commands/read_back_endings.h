#pragma once

// What read and compare share: how each way the command can end is recorded,
// printed and exits.

#include <cstdio>
#include <optional>
#include <string>

#include "flash/flash_read.h"
#include "run/run_record.h"
#include "run/run_report.h"

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
