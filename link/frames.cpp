#include "link/frames.h"

#include <cstring>

#include "link/link.h"

namespace {

void PutWord(std::uint8_t* at, std::uint32_t word) {
  at[0] = static_cast<std::uint8_t>(word >> 24);
  at[1] = static_cast<std::uint8_t>(word >> 16);
  at[2] = static_cast<std::uint8_t>(word >> 8);
  at[3] = static_cast<std::uint8_t>(word);
}

std::uint32_t GetWord(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
         static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}

// Sequence byte (UDP), then the lead byte and the command letter.
std::uint8_t* StartRequest(std::uint8_t* buffer, LinkMode mode, std::uint8_t sequence,
                           std::uint8_t command) {
  std::uint8_t* at = buffer;
  if (FrameHeader(mode)) *at++ = sequence;
  *at++ = frame::kLead;
  *at++ = command;
  return at;
}

LinkOutcome Malformed(LinkOutcome outcome, int expectedLength) {
  outcome.cause = LinkCause::kMalformed;
  outcome.expectedLength = expectedLength;
  return outcome;
}

LinkOutcome Refused(LinkOutcome outcome, std::uint8_t ack) {
  outcome.cause = LinkCause::kRefused;
  outcome.ack = ack;
  return outcome;
}

}  // namespace

int FrameHeader(LinkMode mode) { return mode == LinkMode::kTcp ? 0 : 1; }

std::uint32_t WordChecksum(std::uint32_t start, const std::uint8_t* words, int wordCount) {
  std::uint32_t sum = start;
  for (int i = 0; i < wordCount; ++i) sum += GetWord(words + 4 * i);
  return sum;
}

int BuildReadRequest(std::uint8_t* buffer, LinkMode mode, std::uint8_t sequence, std::uint32_t address) {
  std::uint8_t* at = StartRequest(buffer, mode, sequence, frame::kRead);
  *at++ = frame::kReadWords;
  PutWord(at, address);
  return FrameHeader(mode) + frame::kReadRequestLength;
}

int BuildEraseRequest(std::uint8_t* buffer, LinkMode mode, std::uint8_t sequence) {
  StartRequest(buffer, mode, sequence, frame::kErase);
  return FrameHeader(mode) + frame::kEraseRequestLength;
}

int BuildLockRequest(std::uint8_t* buffer, LinkMode mode, std::uint8_t sequence) {
  StartRequest(buffer, mode, sequence, frame::kLock);
  return FrameHeader(mode) + frame::kLockRequestLength;
}

int BuildProgramRequest(std::uint8_t* buffer, LinkMode mode, std::uint8_t sequence,
                        std::uint32_t address, const std::uint8_t* data) {
  std::uint8_t* at = StartRequest(buffer, mode, sequence, frame::kProgram);
  *at++ = frame::kProgramWords;
  PutWord(at, address);
  at += 4;
  std::memcpy(at, data, frame::kProgramBytes);
  PutWord(at + frame::kProgramBytes, WordChecksum(address, data, frame::kProgramWords));
  return FrameHeader(mode) + frame::kProgramRequestLength;
}

LinkOutcome CheckAckReply(const std::uint8_t* reply, int length, LinkMode mode) {
  const int h = FrameHeader(mode);
  LinkOutcome outcome;
  outcome.length = length;
  if (length != h + frame::kAckReplyLength) return Malformed(outcome, h + frame::kAckReplyLength);
  if (reply[h + frame::kAckAt] != frame::kAck) return Refused(outcome, reply[h + frame::kAckAt]);
  return outcome;
}

LinkOutcome CheckProgramReply(const std::uint8_t* reply, int length, LinkMode mode, std::uint32_t address) {
  const int h = FrameHeader(mode);
  LinkOutcome outcome;
  outcome.length = length;
  if (length != h + frame::kProgramReplyLength) return Malformed(outcome, h + frame::kProgramReplyLength);
  if (reply[h + frame::kAckAt] != frame::kAck) return Refused(outcome, reply[h + frame::kAckAt]);
  const std::uint32_t echoed = GetWord(reply + h + frame::kAddressAt);
  if (echoed != address) {
    outcome.cause = LinkCause::kWrongEcho;
    outcome.expectedAddress = address;
    outcome.echoedAddress = echoed;
  }
  return outcome;
}

namespace {

// The one read reply check: `echo` null takes the reply whatever address it
// names (the identity read), otherwise the address must be *echo.
LinkOutcome CheckRead(const std::uint8_t* reply, int length, LinkMode mode, const std::uint32_t* echo,
                      std::uint8_t* data) {
  const int h = FrameHeader(mode);
  LinkOutcome outcome;
  outcome.length = length;
  const int shortest = h + frame::kReadWords * 4 + frame::kReadReplyOverhead;
  if (length < h + frame::kReadReplyOverhead) return Malformed(outcome, shortest);
  // The count is a signed byte. Fewer than four words cannot hold the 16 bytes
  // we copy, however consistent length and checksum are.
  const int count = static_cast<std::int8_t>(reply[h + frame::kCountAt]);
  if (count < frame::kReadWords) return Malformed(outcome, shortest);
  if (length != h + 4 * count + frame::kReadReplyOverhead) {
    return Malformed(outcome, h + 4 * count + frame::kReadReplyOverhead);
  }
  const std::uint8_t* words = reply + h + frame::kAddressAt;  // address word, then the data
  const std::uint32_t sum = WordChecksum(0, words, count + 1);
  if (sum != GetWord(words + 4 * (count + 1))) {
    outcome.cause = LinkCause::kMalformed;
    outcome.badChecksum = true;
    return outcome;
  }
  if (echo != nullptr && GetWord(words) != *echo) {
    outcome.cause = LinkCause::kWrongEcho;
    outcome.expectedAddress = *echo;
    outcome.echoedAddress = GetWord(words);
    return outcome;
  }
  std::memcpy(data, reply + h + frame::kDataAt, frame::kReadBytes);
  return outcome;
}

}  // namespace

LinkOutcome CheckReadReply(const std::uint8_t* reply, int length, LinkMode mode, IdentityBlock& identity) {
  static_assert(sizeof(IdentityBlock) == frame::kReadBytes);
  return CheckRead(reply, length, mode, nullptr, identity.data());
}

LinkOutcome CheckReadReply(const std::uint8_t* reply, int length, LinkMode mode, std::uint32_t address,
                           std::uint8_t (&data)[frame::kReadBytes]) {
  return CheckRead(reply, length, mode, &address, data);
}

FrameFields DecodeFrame(const std::uint8_t* bytes, int length, LinkMode mode) {
  FrameFields fields;
  const int h = FrameHeader(mode);
  if (h != 0 && length > 0) {
    fields.hasSequence = true;
    fields.sequence = bytes[0];
  }
  if (length <= h + 1) return fields;
  switch (bytes[h + 1]) {
    case frame::kRead: fields.command = LinkCommand::kRead; break;
    case frame::kErase: fields.command = LinkCommand::kErase; break;
    case frame::kProgram: fields.command = LinkCommand::kProgram; break;
    case frame::kLock: fields.command = LinkCommand::kLock; break;
    default: return fields;
  }
  fields.hasCommand = true;
  const bool addressed = fields.command == LinkCommand::kRead || fields.command == LinkCommand::kProgram;
  if (addressed && length >= h + frame::kAddressAt + 4) {
    fields.hasAddress = true;
    fields.address = GetWord(bytes + h + frame::kAddressAt);
  }
  return fields;
}
