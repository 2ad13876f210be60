#pragma once

// The loader's frames as the board sees them: request lengths and reply bytes,
// with no I/O. Written apart from the tool's own frame code on purpose, so that a
// slip there is not copied here. Multi-byte numbers are big-endian; offsets are
// those of a TCP frame (over UDP everything sits one byte later, behind the
// sequence byte).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kLead = 0x66;     // 'f': first byte of every request and reply
constexpr std::uint8_t kRead = 0x75;     // 'u'
constexpr std::uint8_t kErase = 0x65;    // 'e'
constexpr std::uint8_t kProgram = 0x70;  // 'p'
constexpr std::uint8_t kLock = 0x6C;     // 'l': lock the flash and reset
constexpr std::uint8_t kAck = 0x4F;      // 'O'
constexpr std::uint8_t kNak = 0x4E;      // 'N': any byte but kAck is a refusal

constexpr int kCommandAt = 1;
constexpr int kCountAt = 2;    // read and program requests, read replies
constexpr int kAckAt = 2;      // erase, program and lock replies
constexpr int kAddressAt = 3;  // read and program, requests and replies
constexpr int kDataAt = 7;

constexpr int kProgramWords = 16;
constexpr int kProgramBytes = 4 * kProgramWords;
constexpr int kReadRequestLength = 7;
constexpr int kEraseRequestLength = 2;
constexpr int kLockRequestLength = 2;
constexpr int kProgramRequestLength = kDataAt + kProgramBytes + 4;
static_assert(kProgramRequestLength == 75);

constexpr int kAckReplyLength = 3;      // erase and lock
constexpr int kProgramReplyLength = 7;  // the ack byte, then the request's address echoed
constexpr int kReadReplyOverhead = 11;  // a read reply is 4 * words + 11 bytes

// The tool receives every reply into 128 bytes, the UDP sequence byte included,
// so a read reply never carries more words than fit there.
constexpr int kReplyCapacity = 128;
constexpr int kMaxReadWords = (kReplyCapacity - 1 - kReadReplyOverhead) / 4;
static_assert(kMaxReadWords == 29);

constexpr std::uint32_t kFlashSize = 0x20000;
constexpr std::uint8_t kErased = 0xFF;

std::uint32_t Get32(const std::uint8_t* at);
void Append32(Bytes& out, std::uint32_t value);

// The start address plus each big-endian word, modulo 2^32.
std::uint32_t WordChecksum(std::uint32_t start, const std::uint8_t* words, int wordCount);

// Bytes a request with this command letter occupies; 0 for a letter the loader
// does not know.
int RequestLength(std::uint8_t command);

// Erase and lock replies.
Bytes AckReply(std::uint8_t command, bool accepted);
// The program reply echoes an address: normally the request's own.
Bytes ProgramReply(bool accepted, std::uint32_t echoedAddress);

struct ReadReplyShape {
  int words = 4;               // data words carried, 0..kMaxReadWords
  bool claimOneMore = false;   // the count byte says words + 1
  bool badChecksum = false;    // the checksum is off by one
};
// Words are taken from flash at address onward; bytes beyond the flash read as
// erased.
Bytes ReadReply(const std::vector<std::uint8_t>& flash, std::uint32_t address,
                const ReadReplyShape& shape);

// A UDP reply (sequence byte first) turned into one that belongs to the previous
// exchange: its sequence byte is one less, and its content would fail the tool's
// checks, so a tool that takes it instead of skipping it shows the mistake.
Bytes StaleCopy(const Bytes& datagram);

}  // namespace sim
