#pragma once

// One complete programming run over an open link: stamp the operator's revision
// and serial number over the identity record, erase, send the frames of the
// plan, lock and reset. ProgramBoard does the whole job for the window (read the
// file, load, stamp, send); ProgramImage is the sending half on its own, for a
// front end that has loaded and checked the image itself.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

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
  kProgramVerifyFailed = 7,  // a frame read back differs, or could not be read; the board is not locked
  kProgramInterrupted = 8,  // stopped on request between two exchanges; the board is not locked
};

namespace program_const {
constexpr std::size_t kFileBytesPerProgressStep = 120;
constexpr std::uint16_t kProgressRangeMax = 65535;  // the bar's range is 16 bits; larger files clamp
// Characters; a shorter serial number is followed by a NUL, one of this length
// fills the record to its end (0x42F) and has none.
constexpr int kSerialStampMax = identity::kSerialMax;
constexpr int kFinalProgressExtra = 300;  // beyond any range: shows a full bar at the end
// No S-record file of a 128 KiB image comes near this; a larger one is not read.
constexpr std::size_t kMaxFileBytes = 64u << 20;
}  // namespace program_const

// Writes the revision character and the serial number (at most kSerialStampMax
// characters, then a NUL while there is room) over the identity record's place
// in the image: nothing outside 0x420..0x42F changes.
void StampIdentity(FlashImage& image, const char* serialNumber, const char* revision);

// Reads a whole S-record file into bytes: kProgramDone, kProgramFileNotOpened
// (with the reason: no such file, or not a regular file; a FIFO, a device or a
// folder is refused at once, without waiting for a writer) or kProgramDataError
// (a read failure, or a file larger than kMaxFileBytes).
struct FileRead {
  int result = kProgramDone;
  std::string reason;
};
FileRead ReadSRecordFile(const char* fileName, std::string& bytes);
// The same from a stream already open (standard input), read to its end.
FileRead ReadSRecordStream(std::FILE* stream, std::string& bytes);

// Loads file text for a programming run: the loader's report, except that text
// holding no S3 record at all (empty, binary, plain text, only S1/S2 records) is
// refused with kLoadDataError and a LogLine, since a run would send nothing of
// it. A file of S3 records that are all 0xFF is loaded as any other.
LoadReport LoadForProgramming(const char* text, std::size_t length, FlashImage& image);

// What a run tells its front end as it goes. The window turns these into its
// progress bar; a command line into a bar or lines, a trace, a record.
class ProgramObserver {
 public:
  virtual ~ProgramObserver() = default;
  // ProgramBoard has read the file: its size sets the window's progress range.
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

// How a run goes beyond erase, frames and lock.
struct ProgramOptions {
  // Read every frame back before the lock, frame::kReadBytes at a time, and
  // compare it with what was sent. Needs a loader that answers reads at any
  // address.
  bool verify = false;
};

// The outcome of a run: its ProgramResult and, when the board did not give the
// expected reply, which command, which frame (from 1) at which address, and why.
// kProgramVerifyFailed names the read (LinkCommand::kRead) and in `address` the
// first byte that differs; when a read got no good reply, `outcome` says why and
// `address` is where the read started.
// A run stopped on request names the command (and frame) it did not send.
struct ProgramRun {
  int result = kProgramDone;
  LinkCommand command = LinkCommand::kErase;
  int frame = 0;  // program frames only
  std::uint32_t address = 0;
  LinkOutcome outcome;
  int framesPlanned = 0;
  int framesAcknowledged = 0;
  LoadReport load;  // ProgramBoard: what the loader found
};

// Erases, sends the frames of the image's plan, locks and resets, pausing while
// the board resets. The image must already carry the identity stamp. With
// options.verify every frame is read back after the last one and before the
// lock; a difference ends the run unlocked.
ProgramRun ProgramImage(BoardLink& link, const FlashImage& stamped, ProgramObserver& observer,
                        const ProgramOptions& options = {});

// The window's PROGRAM: reads and loads the file, stamps the identity, then
// ProgramImage. Results 1, 2 and 6 come before anything is sent.
ProgramRun ProgramBoard(BoardLink& link, const char* fileName, const char* serialNumber, const char* revision,
                        ProgramObserver& observer);
