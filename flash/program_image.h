#pragma once

// The sending half of a programming run: erase, the frames of the plan, an
// optional read-back, lock and reset, over a link that is already open, for an
// image already loaded and stamped. The run layer above decides what to send
// and reports it; this only sends it and says how far it got and why it ended.

#include <cstddef>
#include <cstdint>

#include "flash/flash_image.h"
#include "flash/frame_plan.h"
#include "link/link.h"
#include "link/protocol.h"

enum ProgramResult : int {
  kProgramDone = 0,
  kProgramDataError = kLoadDataError,          // 1: the file's data does not fit or cannot be read
  kProgramChecksumError = kLoadChecksumError,  // 2
  kProgramEraseFailed = 3,
  kProgramFrameFailed = 4,
  kProgramLockFailed = 5,
  kProgramFileNotOpened = 6,
  kProgramVerifyFailed = 7,  // a byte read back differs, or could not be read; the board is not locked
  kProgramInterrupted = 8,  // stopped on request between two exchanges; the board is not locked
};

namespace program_const {
constexpr std::size_t kFileBytesPerProgressStep = 120;
constexpr std::uint16_t kProgressRangeMax = 65535;  // the bar's range is 16 bits; larger files clamp
constexpr int kFinalProgressExtra = 300;  // beyond any range: shows a full bar at the end
}  // namespace program_const

// What a run tells its front end as it goes. The window turns these into its
// progress bar; a command line into a bar or lines, a trace, a record.
class ProgramObserver {
 public:
  virtual ~ProgramObserver() = default;
  // The window's run has read the file: its size sets the progress range.
  virtual void FileRead(std::size_t /*bytes*/) {}
  // Before the erase: the frames the run will send.
  virtual void RunStarted(int /*frames*/) {}
  // Frame `index` (from 0) was acknowledged.
  virtual void FrameAcknowledged(int /*index*/, std::uint32_t /*address*/) {}
  // The run is over; after a success the board has been locked and has had its
  // time to reset.
  virtual void RunEnded(int /*result*/, int /*framesAcknowledged*/) {}
  // Asked before every command: true ends the run there, unlocked.
  virtual bool StopRequested() { return false; }
};

// What a read-back before the lock compares.
enum class VerifyMode {
  kNone,
  // Every frame sent, four reads a frame: catches a frame the board stored
  // wrongly, not a byte the erase left behind.
  kFrames,
  // The whole flash, 8192 reads: every byte must be the image's where a frame
  // wrote and 0xFF everywhere else, so an erase that did nothing is caught too.
  kFull,
};

// Whether a run reads the identity record back once, right before the lock, and
// holds it against the stamp it sent. A board swapped for another at the same
// address (or one a second port also reaches) answers with an identity the run
// never wrote: that ends the run unlocked instead of locking a board that was
// never erased or stamped.
enum class IdentityCheck { kNone, kBeforeLock };

// The outcome of a run: its ProgramResult and, when the board did not give the
// expected reply, which command, which frame (from 1) at which address, and why.
// kProgramVerifyFailed names the read (LinkCommand::kRead) and in `address` the
// first byte that differs; when a read got no good reply, `outcome` says why and
// `address` is where the read started.
// A run stopped on request names the command it did not send, with the frame
// and address of a program frame or a read-back.
// Where a run's time went, in seconds: 0 for a step it did not reach.
struct RunTimes {
  double eraseSeconds = 0;   // the erase, until the board acknowledged it
  double framesSeconds = 0;  // the program frames
  double verifySeconds = 0;  // the read-back before the lock
  double lockSeconds = 0;    // the lock, and the pause while the board resets
};

struct ProgramRun {
  int result = kProgramDone;
  LinkCommand command = LinkCommand::kErase;
  int frame = 0;  // a program frame, or the frame a read-back of the frames was at
  std::uint32_t address = 0;
  LinkOutcome outcome;
  int framesPlanned = 0;
  int framesAcknowledged = 0;
  // The frame that carries the identity record went out (acknowledged or not):
  // from then on the board may hold the serial number stamped into it.
  bool stampSent = false;
  // kProgramVerifyFailed from the identity check: the board read back holds an
  // identity other than the stamp (`address` is the first byte that differs).
  bool boardChanged = false;
  RunTimes times;
};

// Erases, sends the frames of the image's plan, locks and resets, pausing while
// the board resets. The image must already carry the identity stamp. A read-back
// (`verify`) comes after the last frame and before the lock, then the identity
// check (`check`); a difference ends the run unlocked.
ProgramRun ProgramImage(BoardLink& link, const FlashImage& stamped, ProgramObserver& observer,
                        VerifyMode verify = VerifyMode::kNone, IdentityCheck check = IdentityCheck::kNone);
