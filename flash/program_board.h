#pragma once

// One complete programming run over an open link: load the S-record file, stamp
// the operator's revision and serial number over the identity record, erase,
// send every non-blank stretch as 64-byte frames, lock and reset.

#include <cstdint>

#include "common/progress_sink.h"
#include "flash/flash_image.h"
#include "link/frames.h"
#include "link/link.h"

enum ProgramResult : int {
  kProgramDone = 0,
  kProgramDataError = kLoadDataError,          // 1: the file's data does not fit or cannot be read
  kProgramChecksumError = kLoadChecksumError,  // 2
  kProgramEraseFailed = 3,
  kProgramFrameFailed = 4,
  kProgramLockFailed = 5,
  kProgramFileNotOpened = 6,
};

namespace program_const {
constexpr long kFileBytesPerProgressStep = 120;
constexpr std::uint16_t kProgressRangeMax = 65535;  // the bar's range is 16 bits; larger files clamp
constexpr int kSerialStampMax = identity::kSerialMax;  // characters, followed by a NUL
constexpr std::uint32_t kBlockLength = frame::kProgramBytes;  // one program frame
constexpr std::uint32_t kBlockAlignMask = 0x1FFFC;  // starts on 4-byte boundaries
constexpr std::uint32_t kBlankScanLimit = 0x1FFFC;
// A block is sent only while more than this many bytes lie between its start
// and the scan limit, so none starts at 0x1FFEC or above.
constexpr std::uint32_t kMinRoomBeforeLimit = 16;
constexpr std::uint32_t kNextScanLimit = 0x1FFC0;
constexpr int kFinalProgressExtra = 300;  // beyond any range: shows a full bar at the end
constexpr std::uint32_t kNoMoreBlocks = kFlashSize;  // no block starts there
}  // namespace program_const

// The image of the last run, refilled by every run.
extern FlashImage gFlashImage;

// Writes the revision character and the serial number (at most kSerialStampMax
// characters, then a NUL) over the identity record's place in the image.
void StampIdentity(FlashImage& image, const char* serialNumber, const char* revision);

// Where the next 64-byte frame of a run starts when the scan for data resumes at
// `from` (0 for the first frame, then the previous start plus kBlockLength):
// the first byte other than 0xFF, rounded down to 4. kNoMoreBlocks when the run
// sends no further frame. Shared with tools that tell beforehand what a run sends.
std::uint32_t NextBlockStart(const FlashImage& image, std::uint32_t from);

// Returns a ProgramResult. Results 1, 2 and 6 come before anything is sent.
int ProgramBoard(LinkHandle link, const char* fileName, const char* serialNumber,
                 const char* revision, int mode, ProgressSink& progress);
