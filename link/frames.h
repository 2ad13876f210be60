#pragma once

// The loader's four commands as bytes: request frames built into a caller's
// buffer and replies checked in one, with no I/O. Multi-byte numbers are
// big-endian. Over UDP every frame sits one byte later, behind the sequence byte.

#include <array>
#include <cstdint>

#include "link/link.h"

namespace frame {
constexpr std::uint8_t kLead = 0x66;      // 'f', first byte of every request
constexpr std::uint8_t kRead = 0x75;      // 'u'
constexpr std::uint8_t kErase = 0x65;     // 'e'
constexpr std::uint8_t kProgram = 0x70;   // 'p'
constexpr std::uint8_t kLock = 0x6C;      // 'l': lock the flash and reset the CPU
constexpr std::uint8_t kAck = 0x4F;       // 'O'

// Offsets within a TCP frame.
constexpr int kCountAt = 2;    // read and program requests; read replies
constexpr int kAckAt = 2;      // erase, program and lock replies
constexpr int kAddressAt = 3;  // read and program, requests and replies
constexpr int kDataAt = 7;

constexpr int kReadWords = 4;  // the only count the loader is known to answer
constexpr int kReadBytes = 4 * kReadWords;
constexpr int kProgramWords = 16;
constexpr int kProgramBytes = 4 * kProgramWords;

// TCP lengths; UDP adds the sequence byte.
constexpr int kReadRequestLength = 7;
constexpr int kEraseRequestLength = 2;
constexpr int kLockRequestLength = 2;
constexpr int kProgramRequestLength = kDataAt + kProgramBytes + 4;  // 75
constexpr int kAckReplyLength = 3;      // erase and lock
constexpr int kProgramReplyLength = 7;
constexpr int kReadReplyOverhead = 11;  // a read reply carries 4 * count + 11 bytes
}  // namespace frame

// The four commands, for reports that say which one failed.
enum class LinkCommand { kRead, kErase, kProgram, kLock };

// The 16 bytes of flash at 0x420 that name the board.
using IdentityBlock = std::array<std::uint8_t, 16>;
namespace identity {
constexpr std::uint32_t kFlashOffset = 0x420;
constexpr int kRevisionAt = 0;
constexpr int kSerialAt = 1;
constexpr int kSerialMax = 15;  // to the end of the block when no NUL ends it
constexpr int kHardwareAt = 10;  // overlaps the tail of a long serial number
constexpr int kHardwareLength = 4;
}  // namespace identity

// Bytes in front of the command bytes: the sequence byte over UDP, none over TCP.
int FrameHeader(LinkMode mode);

// Start address plus each big-endian word, modulo 2^32.
std::uint32_t WordChecksum(std::uint32_t start, const std::uint8_t* words, int wordCount);

// Each builder writes a request into buffer and returns its length. `sequence`
// is used over UDP only.
// A read asks for kReadWords words at `address`; the identity read (and the
// probe) at identity::kFlashOffset.
int BuildReadRequest(std::uint8_t* buffer, LinkMode mode, std::uint8_t sequence,
                     std::uint32_t address = identity::kFlashOffset);
int BuildEraseRequest(std::uint8_t* buffer, LinkMode mode, std::uint8_t sequence);
int BuildLockRequest(std::uint8_t* buffer, LinkMode mode, std::uint8_t sequence);
int BuildProgramRequest(std::uint8_t* buffer, LinkMode mode, std::uint8_t sequence,
                        std::uint32_t address, const std::uint8_t* data);

// Reply checks on `length` received bytes: kAccepted, or why the reply is not
// the one the request asked for (kRefused, kMalformed, kWrongEcho). The UDP
// sequence byte was already checked by the exchange. A read reply must carry at
// least the identity's four words and a correct checksum; its first 16 data
// bytes go to `identity`. A read of flash words must also echo the address it
// asked for (kWrongEcho otherwise); the identity read never checked that.
LinkOutcome CheckAckReply(const std::uint8_t* reply, int length, LinkMode mode);
LinkOutcome CheckProgramReply(const std::uint8_t* reply, int length, LinkMode mode, std::uint32_t address);
LinkOutcome CheckReadReply(const std::uint8_t* reply, int length, LinkMode mode, IdentityBlock& identity);
LinkOutcome CheckReadReply(const std::uint8_t* reply, int length, LinkMode mode, std::uint32_t address,
                           std::uint8_t (&data)[frame::kReadBytes]);

// What a frame on the wire says, read without judging it: for a trace, a
// capture or a person. Requests and replies alike carry the command letter
// second; the sequence byte leads over UDP; reads and programs carry an
// address (a request's, or the one a reply names).
struct FrameFields {
  bool hasSequence = false;
  std::uint8_t sequence = 0;
  bool hasCommand = false;
  LinkCommand command = LinkCommand::kRead;
  bool hasAddress = false;
  std::uint32_t address = 0;
};
FrameFields DecodeFrame(const std::uint8_t* bytes, int length, LinkMode mode);
