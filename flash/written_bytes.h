#pragma once

// Which flash offsets a load has written, one bit each (16 KiB), so that an
// address given two different bytes is counted without a second pass. The
// S-record loader asks per record whether anything is written there yet and
// compares bytes only then, which keeps its per-byte cost where it was.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "flash/flash_image.h"

class WrittenBytes {
 public:
  WrittenBytes() : bits_(kFlashSize / kWordBits, 0) {}

  // Whether any of [first, first + count) was written. The range lies in the flash.
  bool Any(std::uint32_t first, std::size_t count) const {
    bool any = false;
    ForWords(first, count, [&](std::size_t word, std::uint64_t mask) { any = any || (bits_[word] & mask) != 0; });
    return any;
  }

  bool Test(std::uint32_t address) const { return (bits_[address / kWordBits] >> (address % kWordBits) & 1u) != 0; }

  void Mark(std::uint32_t first, std::size_t count) {
    ForWords(first, count, [&](std::size_t word, std::uint64_t mask) { bits_[word] |= mask; });
  }

  // Stores count bytes from data at address (the whole range in the flash),
  // counting each byte that replaces a different one written earlier.
  void Store(FlashImage& image, std::uint32_t address, const std::uint8_t* data, std::size_t count, LoadStats& stats) {
    if (Any(address, count)) {
      for (std::size_t i = 0; i < count; ++i) {
        const auto at = static_cast<std::uint32_t>(address + i);
        if (Test(at) && image[at] != data[i] && stats.conflictingBytes++ == 0) stats.firstConflict = at;
      }
    }
    for (std::size_t i = 0; i < count; ++i) image[address + i] = data[i];
    Mark(address, count);
    stats.dataBytes += count;
  }

 private:
  static constexpr std::size_t kWordBits = 64;

  // Calls visit(word, mask) for each word the range touches, with the mask of
  // the range's bits in it: a record of 32 bytes is one or two words.
  template <class Visit>
  static void ForWords(std::size_t first, std::size_t count, Visit visit) {
    const std::size_t end = first + count;
    while (first < end) {
      const std::size_t word = first / kWordBits;
      const std::size_t low = first % kWordBits;
      const std::size_t high = std::min(end - word * kWordBits, kWordBits);  // bits [low, high) of this word
      const std::uint64_t upTo = high == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << high) - 1;
      visit(word, upTo & ~((std::uint64_t{1} << low) - 1));
      first = word * kWordBits + high;
    }
  }
  std::vector<std::uint64_t> bits_;
};
