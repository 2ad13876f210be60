#include "flash/program_board.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/log_line.h"
#include "link/protocol.h"

FlashImage gFlashImage;

namespace {

using namespace program_const;

// The progress range follows the file's size; 0 when it cannot be told.
std::uint16_t ProgressRange(std::FILE* file) {
  long size = 0;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::max(0L, std::ftell(file));
  std::rewind(file);
  return static_cast<std::uint16_t>(std::min<long>(size / kFileBytesPerProgressStep, kProgressRangeMax));
}

// Sends every stretch of the image that holds a byte other than 0xFF, 64 bytes
// at a time from the 4-byte boundary at or below it. Returns the number of
// frames acknowledged, or -1 when one was not.
int SendBlocks(LinkHandle link, int mode, const FlashImage& image, ProgressSink& progress) {
  int blocks = 0;
  for (std::uint32_t start = NextBlockStart(image, 0); start != kNoMoreBlocks;
       start = NextBlockStart(image, start + kBlockLength)) {
    // A block may start close enough to the end to reach past the flash: what
    // lies beyond it is sent as erased bytes.
    std::uint8_t block[kBlockLength];
    std::fill(std::begin(block), std::end(block), kErasedByte);
    const std::uint32_t inside = std::min(kBlockLength, kFlashSize - start);
    std::copy_n(image.begin() + start, inside, block);

    if (ProgramFlashBlock(link, mode, start, block) != 0) return -1;
    progress.SetPosition(blocks);
    ++blocks;
  }
  return blocks;
}

}  // namespace

void StampIdentity(FlashImage& image, const char* serialNumber, const char* revision) {
  image[identity::kFlashOffset + identity::kRevisionAt] = static_cast<std::uint8_t>(revision[0]);
  const std::size_t length = strnlen(serialNumber, kSerialStampMax);
  std::uint8_t* serial = &image[identity::kFlashOffset + identity::kSerialAt];
  std::memcpy(serial, serialNumber, length);
  serial[length] = 0;
}

std::uint32_t NextBlockStart(const FlashImage& image, std::uint32_t from) {
  if (from >= kNextScanLimit) return kNoMoreBlocks;
  std::uint32_t p = from;
  while (p < kBlankScanLimit && image[p] == kErasedByte) ++p;
  const std::uint32_t start = p & kBlockAlignMask;
  if (kBlankScanLimit - start <= kMinRoomBeforeLimit) return kNoMoreBlocks;
  return start;
}

int ProgramBoard(LinkHandle link, const char* fileName, const char* serialNumber,
                 const char* revision, int mode, ProgressSink& progress) {
  std::FILE* file = std::fopen(fileName, "r");
  if (file == nullptr) {
    LogLine("Cannot open S Record file %s: %s\n", fileName, std::strerror(errno));
    return kProgramFileNotOpened;
  }
  progress.SetRange(ProgressRange(file));
  const int loaded = LoadSRecordImage(file, gFlashImage);
  std::fclose(file);
  if (loaded != kLoadOk) return loaded;

  StampIdentity(gFlashImage, serialNumber, revision);

  if (EraseFlash(link, mode) != 0) return kProgramEraseFailed;
  LogLine("Program Flash\n");
  const int blocks = SendBlocks(link, mode, gFlashImage, progress);
  if (blocks < 0) return kProgramFrameFailed;
  if (LockAndReset(link, mode) != 0) return kProgramLockFailed;

  SleepMs(Waits().pauseAfterLockMs);
  progress.SetPosition(blocks + kFinalProgressExtra);
  return kProgramDone;
}
