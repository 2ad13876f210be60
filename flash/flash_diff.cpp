#include "flash/flash_diff.h"

FlashDiff DiffFlash(const std::uint8_t* expected, const std::uint8_t* actual, std::uint32_t start,
                    std::uint32_t length) {
  FlashDiff diff;
  for (std::uint32_t i = 0; i < length; ++i) {
    if (expected[i] == actual[i]) continue;
    const std::uint32_t address = start + i;
    if (diff.ranges.empty() || address - diff.ranges.back().last > kDiffMergeGap) {
      diff.ranges.push_back({address, address, 0});
    }
    diff.ranges.back().last = address;
    ++diff.ranges.back().bytes;
    ++diff.bytes;
  }
  return diff;
}
