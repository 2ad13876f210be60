#pragma once

// Reading the flash as it is, through the loader's read command alone: nothing
// is erased, written or locked. Each request reads one block of
// frame::kReadBytes (16) bytes on a 16-byte boundary, so no read reaches past
// the end of the flash and the whole of it takes exactly kFullReads requests.

#include <cstdint>

#include "flash/flash_image.h"
#include "link/frames.h"
#include "link/link.h"

namespace read_const {
constexpr std::uint32_t kBlockBytes = frame::kReadBytes;
constexpr int kFullReads = static_cast<int>(kFlashSize / kBlockBytes);  // 8192
}  // namespace read_const

// What a read tells its front end as it goes.
class ReadObserver {
 public:
  virtual ~ReadObserver() = default;
  // Before the first request: how many the read will send.
  virtual void ReadStarted(int /*reads*/) {}
  // Read `index` (from 0), of the block at `address`, was answered.
  virtual void BlockRead(int /*index*/, std::uint32_t /*address*/) {}
  // The read is over, whole or not.
  virtual void ReadEnded(bool /*whole*/) {}
  // Asked before every request: true ends the read there.
  virtual bool StopRequested() { return false; }
};

enum class ReadEnd {
  kWhole,    // every byte asked for was read
  kFailed,   // a request got no good reply; `outcome` says why
  kStopped,  // stopped on request; the block at `address` was not asked for
  kDiffers,  // a byte differs from the one expected, at `address`; the read went no further
};

struct FlashRead {
  ReadEnd end = ReadEnd::kWhole;
  // kFailed, kStopped: the block that was not read; kDiffers: the first byte that differs.
  std::uint32_t address = 0;
  LinkOutcome outcome;  // kFailed
  int reads = 0;        // requests answered

  bool Whole() const { return end == ReadEnd::kWhole; }
};

// The requests a read of [start, end) sends.
int ReadsFor(std::uint32_t start, std::uint32_t end);

// Reads the flash from `start` up to, not including, `end` (start < end <=
// kFlashSize) into `into`, which holds end - start bytes; bytes not read are
// left as they were. With `expected` (end - start bytes as well) the read ends
// after the first block that holds a byte other than the one expected there.
FlashRead ReadFlash(BoardLink& link, std::uint32_t start, std::uint32_t end, std::uint8_t* into,
                    ReadObserver& observer, const std::uint8_t* expected = nullptr);
