#pragma once

// One board reached for one command, start to end: its identity read, a run
// that programs it, a dump of its flash, or a comparison with a file. Each
// opens the session, does its work, closes the link and returns values; a
// front end gives the settings and an observer, then shows what came back.

#include <cstddef>
#include <optional>
#include <string>

#include "flash/flash_read.h"
#include "flash/program_image.h"
#include "run/firmware_file.h"
#include "run/program_run.h"
#include "run/read_back.h"
#include "run/run_report.h"
#include "link/observer_fan.h"
#include "run/session.h"

// The board one command reaches: its address and how (the waits, the port,
// what watches the link).
struct BoardAddress {
  std::string address;
  SessionConfig session;
};

// The board as it answered, before the command's work on it.
struct ReachedBoard {
  std::string address;
  std::string port;  // the network port its sockets are tied to; empty: none
  LinkMode transport = LinkMode::kUdp;
  IdentityTexts identity;
};

// The identity a run stamps: what is given, else what the board holds.
struct IdentityChoice {
  std::optional<std::string> revision;
  std::optional<std::string> serial;
  VerifyMode verify = VerifyMode::kNone;
};

// What a one-board command tells its front end as it goes, beside the progress
// of a run and of a read; as a LinkObserver it gets the link's diagnostic lines
// (and its waits and exchanges, beside the session's own observer).
class BoardObserver : public ProgramObserver, public ReadObserver, public LinkObserver {
 public:
  // The board answered and passed its checks; `request` and `frames` are the
  // run or comparison about to start (none for a dump).
  virtual void BoardReady(const ReachedBoard& /*board*/, const RunRequest& /*request*/, std::size_t /*frames*/) {}
  // The socket library refused to close the link (its code); no outcome changes.
  virtual void CloseRefused(int /*code*/) {}
  // Who asked for a stop once one was asked for ("Ctrl+C"), else empty.
  virtual std::string StoppedBy() { return ""; }
  // Asked before every command of a run or a read.
  bool StopRequested() override { return false; }
};

// Connect as the window's Connect does: the link opened, the identity read,
// the link closed (RunStage::kConnected when all went well).
RunReport IdentifyBoard(const BoardAddress& board, BoardObserver& observer);

// What a program run is asked beside its stamp.
struct ProgramChoice {
  IdentityChoice stamp;
  std::string expectHardware;  // empty: any board
  bool skipIfSame = false;     // read back first; a board holding the image is left alone
};

// Connects, checks the board's hardware code and programs it with a file
// already read (ProgramSession, or ProgramUnlessSame): the run's report.
RunReport ProgramOneBoard(const BoardAddress& board, const FirmwareFile& file, const ProgramChoice& choice,
                          BoardObserver& observer);

// A dump of `range`: how far the session got, and the dump once it ran.
struct BoardRead {
  RunReport report;
  std::optional<BoardDump> dump;
};
BoardRead ReadOneBoard(const BoardAddress& board, const FlashRange& range, BoardObserver& observer);

// The board held against what a run of `file` with the stamp would write.
struct BoardCompared {
  RunReport report;
  RunRequest request;
  std::size_t frames = 0;
  std::optional<BoardComparison> comparison;  // once the read ran
};
// A file that cannot be used is refused before any board is reached.
BoardCompared CompareOneBoard(const BoardAddress& board, const FirmwareFile& file, const IdentityChoice& stamp,
                              BoardObserver& observer);

// A command refused before anything was sent because a file it keeps (the run
// log, the trace, the capture) cannot be opened: `why` in the operator's words.
RunReport RecordRefusedReport(const std::string& address, const std::string& why);
