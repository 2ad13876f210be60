#include "sim/loader_wire.h"

namespace sim {

std::uint32_t Get32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
         static_cast<std::uint32_t>(at[2]) << 8 | static_cast<std::uint32_t>(at[3]);
}

void Append32(Bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t WordChecksum(std::uint32_t start, const std::uint8_t* words, int wordCount) {
  std::uint32_t sum = start;
  for (int i = 0; i < wordCount; ++i) sum += Get32(words + 4 * i);
  return sum;
}

int RequestLength(std::uint8_t command) {
  switch (command) {
    case kRead: return kReadRequestLength;
    case kErase: return kEraseRequestLength;
    case kProgram: return kProgramRequestLength;
    case kLock: return kLockRequestLength;
    default: return 0;
  }
}

Bytes AckReply(std::uint8_t command, bool accepted) {
  return {kLead, command, accepted ? kAck : kNak};
}

Bytes ProgramReply(bool accepted, std::uint32_t echoedAddress) {
  Bytes reply = {kLead, kProgram, accepted ? kAck : kNak};
  Append32(reply, echoedAddress);
  return reply;
}

Bytes ReadReply(const std::vector<std::uint8_t>& flash, std::uint32_t address,
                const ReadReplyShape& shape) {
  const int claimed = shape.words + (shape.claimOneMore ? 1 : 0);
  Bytes reply = {kLead, kRead, static_cast<std::uint8_t>(claimed)};
  Append32(reply, address);
  for (int i = 0; i < 4 * shape.words; ++i) {
    // 64-bit so that a read near the top of the address space does not wrap to 0.
    const std::uint64_t at = std::uint64_t{address} + static_cast<std::uint64_t>(i);
    reply.push_back(at < flash.size() ? flash[at] : kErased);
  }
  std::uint32_t sum = WordChecksum(0, reply.data() + kAddressAt, 1 + shape.words);
  if (shape.badChecksum) sum += 1;
  Append32(reply, sum);
  return reply;
}

Bytes StaleCopy(const Bytes& datagram) {
  Bytes stale = datagram;
  if (stale.empty()) return stale;
  stale[0] = static_cast<std::uint8_t>(stale[0] - 1);
  const std::size_t command = 1 + kCommandAt;
  const std::size_t ack = 1 + kAckAt;
  if (stale.size() > command && stale[command] == kRead) {
    stale.back() ^= 0x01;  // the checksum's last byte
  } else if (stale.size() > ack) {
    stale[ack] = kNak;
    for (std::size_t i = ack + 1; i < stale.size(); ++i) stale[i] ^= 0x5A;  // a foreign echo
  }
  return stale;
}

}  // namespace sim
