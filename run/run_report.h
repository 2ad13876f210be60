#pragma once

// Everything one programming run can say about one board, in one value: which
// board, over which transport, what it held before and what was written, which
// file (by name and SHA-256) and how it loaded, the frames planned, sent and
// acknowledged, the read-back, the result, why it ended, and how long it took.
// Every front end builds its messages, exit status and records from it.

#include <optional>
#include <string>

#include "flash/flash_read.h"
#include "flash/frame_plan.h"
#include "flash/program_image.h"
#include "link/link.h"
#include "run/firmware_file.h"
#include "run/session.h"

// How far a run got before it ended.
enum class RunStage {
  kFile,      // the file was refused before any board: result 1, 2 or 6
  kConnect,   // no link to the board
  kIdentity,  // connected, but the identity record could not be read
  kConnected, // connected and the identity read; nothing more was asked (identity)
  kRefused,   // a front end's own check refused the board before the erase
  kProgram,   // the erase was due: ProgramImage ran (run.result says how it ended)
  kSkipped,   // the board already held what the run would write (read back first): nothing erased
};

// Why a front end's check turned a board away before its erase (kRefused).
enum class Refusal {
  kNone,
  kWrongHardware,     // not the hardware code the line expects
  kRecordUnwritable,  // the run log, trace or capture could not take the run
  kStoreUnusable,     // the serial store could not be read, reached or written
  kRepeat,            // its serial number was handed out from this store already
  kSerialsUsedUp,     // the store's range has no number left
  kStoreUnsupported,  // asked the store for something it cannot do
  kNotTheJobsFirmware,  // the file read is not the one its approved job names
};

struct FileFacts {
  std::string name;
  std::string sha256;  // empty when the file was not read
  std::string format;   // "srec", "ihex", "elf", "bin"; empty when not read
  std::size_t size = 0;
  int result = kProgramDone;
  std::string reason;  // why the file could not be read
  LoadReport load;
  ApprovedJob job;
};

struct RunReport {
  RunStage stage = RunStage::kFile;
  std::string board;           // the address
  bool connected = false;
  OpenOutcome opened = OpenOutcome::Failed(-1);
  LinkMode transport = LinkMode::kUdp;  // while connected
  bool identityRead = false;
  LinkOutcome identityOutcome;
  IdentityBlock identityBefore{};
  // What a front end's check said when it refused the board (kRefused): why,
  // and its words.
  Refusal refusal = Refusal::kNone;
  std::string refusalMessage;
  // What the run stamped at 0x420 (kProgram), as bytes.
  std::string revision;
  std::string serial;
  FileFacts file;
  FramePlan plan;  // of the stamped image
  VerifyMode verify = VerifyMode::kNone;
  ProgramRun run;  // kProgram
  // When the board was read back before the erase (program --skip-if-same): how
  // that read ended (whole: the board holds the image) and how long it took.
  std::optional<FlashRead> compared;
  double compareSeconds = 0;
  // Who asked the run to stop, when it was stopped: "Ctrl+C", "SIGTERM", ...
  std::string stoppedBy;
  double connectSeconds = 0;
  double programSeconds = 0;

  bool Programmed() const { return stage == RunStage::kProgram; }
  bool Succeeded() const { return Programmed() && run.result == kProgramDone; }
  // Stopped on request: while connecting, any stop asked for; once the erase
  // was due, the run's own word (a run that failed before it saw the stop failed).
  bool Interrupted() const;
};

// What a session found, for a report whose run ends before the erase.
RunReport SessionReport(const Session& session);
// The file's part of a report.
FileFacts FactsOf(const FirmwareFile& file);
// A report of a file refused before any board was reached.
RunReport RefusedFileReport(const FirmwareFile& file);

// The operator's words for how the run ended: the window's result message, the
// connect failure, the identity failure, or the refusal.
std::string RunMessage(const RunReport& report);

// Why a run did not end as asked: the command it concerns (none when no command
// was sent), the frame (from 1) and address for a program frame or a read-back,
// and what went wrong.
struct RunCause {
  std::optional<LinkCommand> command;
  int frame = 0;
  std::uint32_t address = 0;
  bool hasAddress = false;
  std::string what;
};
// None for a run that succeeded, or ended for a reason with no command behind
// it (a bad file, a refusal).
std::optional<RunCause> CauseOf(const RunReport& report);
// "program frame 3 at 0x00080: board refused (0x4E instead of 0x4F)".
std::string CauseText(const RunCause& cause);
