#include "flash/flash_read.h"

#include <algorithm>

#include "link/protocol.h"

using read_const::kBlockBytes;

namespace {

std::uint32_t BlockOf(std::uint32_t address) { return address - address % kBlockBytes; }

}  // namespace

int ReadsFor(std::uint32_t start, std::uint32_t end) {
  if (end <= start) return 0;
  return static_cast<int>((BlockOf(end - 1) - BlockOf(start)) / kBlockBytes + 1);
}

FlashRead ReadFlash(BoardLink& link, std::uint32_t start, std::uint32_t end, std::uint8_t* into,
                    ReadObserver& observer, const std::uint8_t* expected) {
  FlashRead read;
  observer.ReadStarted(ReadsFor(start, end));
  const auto ended = [&](ReadEnd how, std::uint32_t address) {
    read.end = how;
    read.address = address;
    observer.ReadEnded(false);
    return read;
  };
  for (std::uint32_t block = BlockOf(start); block < end; block += kBlockBytes) {
    if (observer.StopRequested()) return ended(ReadEnd::kStopped, block);
    std::uint8_t data[frame::kReadBytes];
    read.outcome = ReadFlashWords(link, block, data);
    if (!read.outcome.Accepted()) return ended(ReadEnd::kFailed, block);
    observer.BlockRead(read.reads++, block);
    // A range that starts or ends inside a block keeps only its own bytes.
    const std::uint32_t from = std::max(block, start);
    const std::uint32_t to = std::min(block + kBlockBytes, end);
    std::copy(data + (from - block), data + (to - block), into + (from - start));
    if (expected == nullptr) continue;
    for (std::uint32_t at = from; at < to; ++at) {
      if (into[at - start] != expected[at - start]) return ended(ReadEnd::kDiffers, at);
    }
  }
  observer.ReadEnded(true);
  return read;
}
