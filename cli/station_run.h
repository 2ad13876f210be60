#pragma once

// What a command that runs boards tells the station's serial store: who claims
// a number, how a run ended, and whether the frame carrying the identity
// record went out (a failed run that never sent it gives its number back).

#include <string>

#include "cli/board_session.h"
#include "cli/cli_options.h"
#include "flash/frame_plan.h"
#include "flash/program_board.h"
#include "station/serial_store.h"

// True once the first frame that carries a byte of the identity record
// (0x420..0x42F) was sent, acknowledged or not.
bool StampFrameSent(const FramePlan& plan, const ProgramRun& run);

BoardClaim ClaimFor(const CliOptions& options, const BoardSession& session, const std::string& sha256);

// The run as the runs table keeps it: `result` 0 is programmed (verified with
// --verify), kProgramInterrupted interrupted; `refused` a board turned away
// before any number was taken.
StoredRun StoredRunOf(const CliOptions& options, const BoardClaim& claim, const std::string& serial, int result,
                      bool refused, const std::string& json);

RunEnd RunEndOf(const CliOptions& options, const FramePlan& plan, const ProgramRun& run, const std::string& cause,
                const StoredRun& stored);
