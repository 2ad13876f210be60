#pragma once

// Which flash offsets a load has written, one bit each (16 KiB), so that an
// address given two different bytes is counted without a second pass. The
// S-record loader asks per record whether anything is written there yet and
// compares bytes only then, which keeps its per-byte cost where it was.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "flash/flash_image.h"

class WrittenBytes {
 public:
  WrittenBytes() : bits_(kFlashSize / kWordBits, 0) {}

  // Whether any of [first, first + count) was written. The range lies in the flash.
  bool Any(std::uint32_t first, std::size_t count) const {
    for (std::size_t a = first; a < first + count;) {
      const std::size_t word = a / kWordBits;
      if (a % kWordBits == 0 && a + kWordBits <= first + count) {
        if (bits_[word] != 0) return true;
        a += kWordBits;
      } else {
        if (Test(static_cast<std::uint32_t>(a))) return true;
        ++a;
      }
    }
    return false;
  }

  bool Test(std::uint32_t address) const { return (bits_[address / kWordBits] >> (address % kWordBits) & 1u) != 0; }

  void Mark(std::uint32_t first, std::size_t count) {
    for (std::size_t a = first; a < first + count; ++a) bits_[a / kWordBits] |= std::uint64_t{1} << (a % kWordBits);
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
  std::vector<std::uint64_t> bits_;
};
