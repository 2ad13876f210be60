#include "flash/frame_plan.h"

#include <algorithm>

using namespace plan_const;

std::uint32_t NextBlockStart(const FlashImage& image, std::uint32_t from) {
  if (from >= kNextScanLimit) return kNoMoreBlocks;
  std::uint32_t p = from;
  while (p < kBlankScanLimit && image[p] == kErasedByte) ++p;
  const std::uint32_t start = p & kBlockAlignMask;
  if (kBlankScanLimit - start <= kMinRoomBeforeLimit) return kNoMoreBlocks;
  return start;
}

FramePlan PlanFrames(const FlashImage& stamped) {
  FramePlan plan;
  std::uint32_t judged = 0;  // bytes below this are in a frame or were counted
  auto countUnsent = [&](std::uint32_t upTo) {
    for (std::uint32_t p = judged; p < upTo; ++p) {
      if (stamped[p] != kErasedByte && plan.unsentBytes++ == 0) plan.firstUnsent = p;
    }
  };
  for (std::uint32_t start = NextBlockStart(stamped, 0); start != kNoMoreBlocks;
       start = NextBlockStart(stamped, start + kBlockLength)) {
    countUnsent(start);
    plan.starts.push_back(start);
    judged = std::max(judged, std::min(start + kBlockLength, kFlashSize));
  }
  countUnsent(kFlashSize);
  return plan;
}

void FrameBytes(const FlashImage& image, std::uint32_t start, std::uint8_t (&block)[kBlockLength]) {
  std::fill(std::begin(block), std::end(block), kErasedByte);
  const std::uint32_t inside = std::min(kBlockLength, kFlashSize - start);
  std::copy_n(image.begin() + start, inside, block);
}

std::unique_ptr<FlashImage> WrittenImage(const FlashImage& stamped, const FramePlan& plan) {
  auto written = std::make_unique<FlashImage>();
  written->fill(kErasedByte);
  for (const std::uint32_t start : plan.starts) {
    const std::uint32_t inside = std::min(kBlockLength, kFlashSize - start);
    std::copy_n(stamped.begin() + start, inside, written->begin() + start);
  }
  return written;
}
