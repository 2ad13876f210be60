#pragma once

// Where two pictures of the flash differ, as ranges a person can read: a
// comparison of a board with what a run would write lists them.

#include <cstdint>
#include <vector>

// Differing bytes at most this many addresses apart are one range, so a stretch
// where only some bytes happen to agree reads as one range, not dozens.
constexpr std::uint32_t kDiffMergeGap = 16;

struct DiffRange {
  std::uint32_t first = 0;  // the first and last differing byte, flash addresses
  std::uint32_t last = 0;
  std::uint32_t bytes = 0;  // the bytes in between that differ
};

struct FlashDiff {
  std::vector<DiffRange> ranges;  // in address order
  std::uint32_t bytes = 0;        // all the bytes that differ
};

// `expected` and `actual` hold `length` bytes from flash address `start`.
FlashDiff DiffFlash(const std::uint8_t* expected, const std::uint8_t* actual, std::uint32_t start,
                    std::uint32_t length);
