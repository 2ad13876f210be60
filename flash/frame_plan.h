#pragma once

// Which 64-byte program frames a run sends for an image: the one definition of
// the block scan, used by the run itself and by tools that tell beforehand what
// a run would send.

#include <cstdint>
#include <memory>
#include <vector>

#include "flash/flash_image.h"
#include "link/frames.h"

namespace plan_const {
constexpr std::uint32_t kBlockLength = frame::kProgramBytes;  // bytes in one program frame
constexpr std::uint32_t kBlockAlignMask = 0x1FFFC;  // frames start on 4-byte boundaries
constexpr std::uint32_t kBlankScanLimit = 0x1FFFC;
// A block is sent only while more than this many bytes lie between its start
// and the scan limit, so none starts at 0x1FFEC or above.
constexpr std::uint32_t kMinRoomBeforeLimit = 16;
constexpr std::uint32_t kNextScanLimit = 0x1FFC0;
constexpr std::uint32_t kNoMoreBlocks = kFlashSize;  // no block starts there
}  // namespace plan_const

// Where the next frame starts when the scan for data resumes at `from` (0 for
// the first frame, then the previous start plus kBlockLength): the first byte
// other than 0xFF, rounded down to 4. kNoMoreBlocks when no further frame is
// sent. Frames thus start on 4-byte, not 64-byte, boundaries, and the flash's
// last bytes (0x1FFC0 and up) go out only inside a frame that starts lower.
std::uint32_t NextBlockStart(const FlashImage& image, std::uint32_t from);

struct FramePlan {
  std::vector<std::uint32_t> starts;  // in the order a run sends them
  // Bytes other than 0xFF that no frame carries, and the first of them.
  std::uint32_t unsentBytes = 0;
  std::uint32_t firstUnsent = 0;
};

// The frames a run sends for an image already stamped with the identity.
FramePlan PlanFrames(const FlashImage& stamped);

// One frame's 64 bytes from `start`. A frame may start close enough to the end
// to reach past the flash: what lies beyond it is sent as erased bytes.
void FrameBytes(const FlashImage& image, std::uint32_t start, std::uint8_t (&block)[plan_const::kBlockLength]);

// What the flash holds after an erase and the plan's frames: the stamped
// image's bytes where a frame writes (a frame's 0xFF tail included), erased
// bytes everywhere else. A full read-back and a comparison hold the board
// against it. On the heap: it is 128 KiB.
std::unique_ptr<FlashImage> WrittenImage(const FlashImage& stamped, const FramePlan& plan);
