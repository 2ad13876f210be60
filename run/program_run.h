#pragma once

// A programming run on a session's board: the file's image stamped with the
// identity chosen, planned, and sent (erase, frames, an optional read-back,
// lock and reset). Every front end's PROGRAM comes through here, and every run
// returns one report.

#include <memory>
#include <string>

#include "flash/program_image.h"
#include "run/firmware_file.h"
#include "run/run_report.h"
#include "run/session.h"

// What a run writes and how it checks it.
struct RunRequest {
  std::string revision;  // bytes: the first is stamped at 0x420 (none: 0)
  std::string serial;    // bytes from 0x421, at most 15
  VerifyMode verify = VerifyMode::kNone;
  // Production runs read the identity back before the lock (IdentityCheck);
  // program and the window keep their exchange as it is.
  IdentityCheck identityCheck = IdentityCheck::kNone;
};

// The file's image with the request's stamp: what the run cuts its frames from.
std::unique_ptr<FlashImage> StampedImage(const FirmwareFile& file, const RunRequest& request);

// A run's report before anything is sent: the session's facts, the file's, the
// stamp and the plan (RunStage::kProgram).
RunReport PlannedRun(const Session& session, const FirmwareFile& file, const RunRequest& request);

// Programs the board of an open session (its identity read) with a file
// already read and loaded. The file's image is not changed: the stamp goes
// into a copy.
RunReport ProgramSession(Session& session, const FirmwareFile& file, const RunRequest& request,
                         ProgramObserver& observer);

// How many frames a run of the file with this stamp sends.
std::size_t PlannedFrames(const FirmwareFile& file, const RunRequest& request);

// The identity record a run of the file with this stamp leaves on the board.
IdentityBlock IdentityAfter(const FirmwareFile& file, const RunRequest& request);

// The window's PROGRAM on a connected session: reads the file (its size sets
// the progress range), loads it, then as ProgramSession. Results 1, 2 and 6
// come before anything is sent.
RunReport ProgramBoard(Session& session, const std::string& fileName, const RunRequest& request,
                       ProgramObserver& observer);
