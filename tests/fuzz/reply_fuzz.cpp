// Arbitrary bytes as a board reply, checked under every transport and a handful
// of lengths. A reply check guards everything the tool believes about the board,
// so it must accept exactly the well-formed replies, read nothing beyond the
// bytes received, and turn down every exchange failure.
//
// The input's first 128 bytes are the reply, as the link receives at most that
// much; the lengths, the address and the other choices are drawn from the
// input's end, so the fuzzer steers both.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/frames.h"
#include "link/link.h"

namespace {

constexpr int kCapacity = kLinkRequestSize;

void Require(bool holds, const char* what, int mode, int length) {
  if (holds) return;
  std::fprintf(stderr, "reply check invariant broken: %s (mode %d, length %d)\n", what, mode, length);
  std::abort();
}

// Big-endian words, summed here rather than with WordChecksum, which is itself
// under test.
std::uint32_t Word(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
         static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}

void PutWord(std::uint8_t* at, std::uint32_t word) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(word >> (24 - 8 * i));
}

struct Verdicts {
  bool ack;
  bool program;
  bool read;
  IdentityBlock identity;
};

Verdicts CheckAll(const std::uint8_t* reply, int length, int mode, std::uint32_t address) {
  Verdicts v{};
  v.ack = CheckAckReply(reply, length, mode);
  v.program = CheckProgramReply(reply, length, mode, address);
  v.read = CheckReadReply(reply, length, mode, v.identity);
  return v;
}

// What an accepted reply must be, whatever else the bytes hold.
void CheckAccepted(const std::uint8_t* reply, int length, int mode, std::uint32_t address,
                   const Verdicts& v) {
  const int h = mode == kLinkTcp ? 0 : 1;
  if (v.ack) {
    Require(length == h + 3 && reply[h + 2] == frame::kAck, "ack reply accepted with wrong length or ack", mode, length);
  }
  if (v.program) {
    Require(length == h + 7 && reply[h + 2] == frame::kAck, "program reply accepted with wrong length or ack", mode, length);
    Require(Word(reply + h + 3) == address, "program reply accepted without echoing the address", mode, length);
  }
  if (v.read) {
    const int count = static_cast<std::int8_t>(reply[h + 2]);
    Require(count >= 4, "read reply accepted with fewer than four words", mode, length);
    Require(length == h + 4 * count + 11, "read reply accepted with a length its count does not give", mode, length);
    std::uint32_t sum = 0;
    for (int i = 0; i <= count; ++i) sum += Word(reply + h + 3 + 4 * i);
    Require(sum == Word(reply + h + 3 + 4 * (count + 1)), "read reply accepted with a wrong checksum", mode, length);
    Require(std::memcmp(v.identity.data(), reply + h + 7, v.identity.size()) == 0,
            "identity is not the reply's first sixteen data bytes", mode, length);
  }
}

// Runs the checks on the 128-byte buffer and on a copy of exactly `length`
// bytes: under ASan the copy catches a check that looks past what was received,
// and the verdicts must not depend on the stale bytes behind the reply.
Verdicts CheckReceived(const std::uint8_t* buffer, int length, int mode, std::uint32_t address) {
  const Verdicts inBuffer = CheckAll(buffer, length, mode, address);
  auto exact = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(length));
  std::memcpy(exact.get(), buffer, static_cast<std::size_t>(length));
  const Verdicts alone = CheckAll(exact.get(), length, mode, address);
  Require(inBuffer.ack == alone.ack && inBuffer.program == alone.program && inBuffer.read == alone.read,
          "verdict depends on bytes past the reply", mode, length);
  CheckAccepted(buffer, length, mode, address, inBuffer);
  return inBuffer;
}

// Repairs the buffer into a well-formed reply of each kind and requires it to be
// accepted, then requires that any bit flipped among the examined bytes gets it
// turned down, and that one flipped among the unexamined bytes (the sequence
// byte, the command letters) does not.
void CheckWellFormed(std::uint8_t* buffer, int mode, std::uint32_t address, FuzzedDataProvider& choose) {
  const int h = mode == kLinkTcp ? 0 : 1;
  const auto flipAndCheck = [&](int length, bool (*check)(const std::uint8_t*, int, int, std::uint32_t)) {
    Require(check(buffer, length, mode, address), "well-formed reply refused", mode, length);
    const int bit = choose.ConsumeIntegralInRange(0, 8 * length - 1);
    buffer[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    const bool examined = bit / 8 >= h + 2;
    Require(check(buffer, length, mode, address) != examined,
            examined ? "reply with a flipped bit accepted" : "unexamined byte changed the verdict", mode, length);
    buffer[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
  };

  buffer[h + 2] = frame::kAck;
  flipAndCheck(h + 3, [](const std::uint8_t* r, int l, int m, std::uint32_t) { return CheckAckReply(r, l, m); });

  PutWord(buffer + h + 3, address);
  flipAndCheck(h + 7, CheckProgramReply);

  // Any count from the identity's four words to the most the receive buffer holds.
  const int count = choose.ConsumeIntegralInRange(4, (kCapacity - h - 11) / 4);
  buffer[h + 2] = static_cast<std::uint8_t>(count);
  std::uint32_t sum = 0;
  for (int i = 0; i <= count; ++i) sum += Word(buffer + h + 3 + 4 * i);
  PutWord(buffer + h + 3 + 4 * (count + 1), sum);
  flipAndCheck(h + 4 * count + 11, [](const std::uint8_t* r, int l, int m, std::uint32_t) {
    IdentityBlock identity;
    return CheckReadReply(r, l, m, identity);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int received = static_cast<int>(std::min<std::size_t>(size, kCapacity));
  FuzzedDataProvider choose(data, size);
  const std::uint32_t address = choose.ConsumeIntegral<std::uint32_t>();
  int otherMode = choose.ConsumeIntegral<int>();
  if (otherMode == kLinkTcp) otherMode = kLinkUdp + 1;  // an error code left in the mode, say
  const int lengths[] = {
      received,
      choose.ConsumeIntegralInRange(0, kCapacity),
      choose.ConsumeIntegralInRange(0, kCapacity),
      choose.ConsumeIntegralInRange(0, kCapacity),
  };
  // What an exchange returns instead of a length when it fails: these must never
  // pass for a reply, however the buffer reads.
  const int failures[] = {link_const::kTimedOut, kSocketErrorBase + choose.ConsumeIntegralInRange(1, 200)};

  std::uint8_t buffer[kCapacity];
  std::memset(buffer, 0xA5, sizeof buffer);
  std::memcpy(buffer, data, static_cast<std::size_t>(received));

  for (const int mode : {static_cast<int>(kLinkTcp), static_cast<int>(kLinkUdp), otherMode}) {
    Require(FrameHeader(mode) == (mode == kLinkTcp ? 0 : 1), "frame header", mode, 0);
    for (const int length : lengths) {
      const Verdicts v = CheckReceived(buffer, length, mode, address);
      if (mode == otherMode) {
        // Any mode but TCP is framed as UDP.
        const Verdicts udp = CheckAll(buffer, length, kLinkUdp, address);
        Require(v.ack == udp.ack && v.program == udp.program && v.read == udp.read,
                "a mode other than TCP is not treated as UDP", mode, length);
      }
    }
    for (const int failure : failures) {
      const Verdicts v = CheckAll(buffer, failure, mode, address);
      Require(!v.ack && !v.program && !v.read, "an exchange failure passed as a reply", mode, failure);
    }
    std::uint8_t repaired[kCapacity];
    std::memcpy(repaired, buffer, sizeof repaired);
    CheckWellFormed(repaired, mode, address, choose);
  }
  return 0;
}
