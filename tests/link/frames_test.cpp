// Request bytes and reply checks of the loader's four commands, over both
// transports, against bytes written out by hand.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "link/frames.h"
#include "link/link.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Sequential64(std::uint8_t first) {
  Bytes data(64);
  for (int i = 0; i < 64; ++i) data[i] = static_cast<std::uint8_t>(first + i);
  return data;
}

// A well-formed read reply in TCP framing, words given as bytes.
Bytes ReadReplyTcp(std::uint32_t address, const Bytes& data, int claimedCount) {
  Bytes r = {0x66, 0x75, static_cast<std::uint8_t>(claimedCount),
             static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
             static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
  r.insert(r.end(), data.begin(), data.end());
  const std::uint32_t sum = WordChecksum(address, data.data(), static_cast<int>(data.size() / 4));
  for (int shift = 24; shift >= 0; shift -= 8) r.push_back(static_cast<std::uint8_t>(sum >> shift));
  return r;
}

Bytes AsUdp(Bytes tcp, std::uint8_t sequence) {
  tcp.insert(tcp.begin(), sequence);
  return tcp;
}

const Bytes kIdentity = {'B', '1', '2', '3', '4', '5', 0, 0, 0, 0, 'V', 'R', '3', '2', 0, 0};

// The identity read, and a read-back of the flash's last words.
int IdentityRead(std::uint8_t* b, LinkMode mode, std::uint8_t sequence) { return BuildReadRequest(b, mode, sequence); }
int ReadAtEnd(std::uint8_t* b, LinkMode mode, std::uint8_t sequence) {
  return BuildReadRequest(b, mode, sequence, 0x1FFF0);
}

TEST(FrameBuild, ShortRequestsByTransport) {
  struct Case {
    const char* name;
    int (*build)(std::uint8_t*, LinkMode, std::uint8_t);
    LinkMode mode;
    Bytes expected;
  } cases[] = {
      {"read tcp", IdentityRead, LinkMode::kTcp, {0x66, 0x75, 0x04, 0x00, 0x00, 0x04, 0x20}},
      {"read udp", IdentityRead, LinkMode::kUdp, {0x09, 0x66, 0x75, 0x04, 0x00, 0x00, 0x04, 0x20}},
      {"read at 0x1FFF0 udp", ReadAtEnd, LinkMode::kUdp, {0x09, 0x66, 0x75, 0x04, 0x00, 0x01, 0xFF, 0xF0}},
      {"erase tcp", BuildEraseRequest, LinkMode::kTcp, {0x66, 0x65}},
      {"erase udp", BuildEraseRequest, LinkMode::kUdp, {0x09, 0x66, 0x65}},
      {"lock tcp", BuildLockRequest, LinkMode::kTcp, {0x66, 0x6C}},
      {"lock udp", BuildLockRequest, LinkMode::kUdp, {0x09, 0x66, 0x6C}},
  };
  for (const Case& c : cases) {
    std::uint8_t buffer[kLinkRequestSize];
    const int length = c.build(buffer, c.mode, 0x09);
    EXPECT_EQ(Bytes(buffer, buffer + length), c.expected) << c.name;
  }
}

TEST(FrameBuild, ProgramRequestCarriesAddressWordsAndChecksum) {
  const Bytes data = Sequential64(0x10);
  std::uint8_t buffer[kLinkRequestSize];
  const int length = BuildProgramRequest(buffer, LinkMode::kTcp, 0x33, 0x0001F040, data.data());
  ASSERT_EQ(length, 75);
  EXPECT_EQ(Bytes(buffer, buffer + 7), (Bytes{0x66, 0x70, 0x10, 0x00, 0x01, 0xF0, 0x40}));
  EXPECT_EQ(Bytes(buffer + 7, buffer + 71), data);
  // 0x1F040 + words 0x10111213, 0x14151617, ... 0x4C4D4E4F; summed by hand in
  // steps of 0x04040404 over sixteen words: 16 * 0x10111213 + 120 * 0x04040404.
  const std::uint32_t expected = 0x0001F040u + 16u * 0x10111213u + 120u * 0x04040404u;
  EXPECT_EQ(Bytes(buffer + 71, buffer + 75),
            (Bytes{static_cast<std::uint8_t>(expected >> 24), static_cast<std::uint8_t>(expected >> 16),
                   static_cast<std::uint8_t>(expected >> 8), static_cast<std::uint8_t>(expected)}));

  std::uint8_t udp[kLinkRequestSize];
  ASSERT_EQ(BuildProgramRequest(udp, LinkMode::kUdp, 0x33, 0x0001F040, data.data()), 76);
  EXPECT_EQ(udp[0], 0x33);
  EXPECT_EQ(Bytes(udp + 1, udp + 76), Bytes(buffer, buffer + 75));
}

TEST(WordChecksum, WrapsModulo2To32AndReadsBigEndian) {
  const Bytes words = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x02};
  EXPECT_EQ(WordChecksum(0x00000001, words.data(), 2), 0x00000002u);
  const Bytes one = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(WordChecksum(0, one.data(), 1), 0x01020304u);
  EXPECT_EQ(WordChecksum(0x420, one.data(), 0), 0x420u);
}

TEST(ReplyCheck, AckReplies) {
  struct Case {
    const char* name;
    Bytes reply;
    LinkMode mode;
    bool good;
  } cases[] = {
      {"tcp ack", {0x66, 0x65, 0x4F}, LinkMode::kTcp, true},
      {"udp ack", {0x05, 0x66, 0x65, 0x4F}, LinkMode::kUdp, true},
      {"tcp nak", {0x66, 0x65, 0x4E}, LinkMode::kTcp, false},
      {"tcp ack with a zero byte", {0x66, 0x65, 0x00}, LinkMode::kTcp, false},
      {"udp nak", {0x05, 0x66, 0x65, 0x6F}, LinkMode::kUdp, false},
      {"tcp too long", {0x66, 0x65, 0x4F, 0x00}, LinkMode::kTcp, false},
      {"udp frame read as tcp", {0x05, 0x66, 0x65, 0x4F}, LinkMode::kTcp, false},
      {"udp too short", {0x05, 0x66, 0x4F}, LinkMode::kUdp, false},
      // The command letters are not examined.
      {"tcp other letters", {0x00, 0x00, 0x4F}, LinkMode::kTcp, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckAckReply(c.reply.data(), static_cast<int>(c.reply.size()), c.mode).Accepted(), c.good) << c.name;
  }
}

TEST(ReplyCheck, AckReplyRejectsExchangeFailures) {
  std::uint8_t buffer[kLinkRequestSize] = {0x66, 0x65, 0x4F};
  for (int length : {0, 297, 10110, -1}) {
    EXPECT_FALSE(CheckAckReply(buffer, length, LinkMode::kTcp).Accepted()) << length;
  }
}

TEST(ReplyCheck, ProgramReplyMustEchoTheAddress) {
  struct Case {
    const char* name;
    Bytes reply;
    LinkMode mode;
    bool good;
  } cases[] = {
      {"tcp good", {0x66, 0x70, 0x4F, 0x00, 0x01, 0x23, 0x44}, LinkMode::kTcp, true},
      {"udp good", {0x07, 0x66, 0x70, 0x4F, 0x00, 0x01, 0x23, 0x44}, LinkMode::kUdp, true},
      {"ack but other address", {0x66, 0x70, 0x4F, 0x00, 0x01, 0x23, 0x48}, LinkMode::kTcp, false},
      {"ack but address high byte", {0x66, 0x70, 0x4F, 0x01, 0x01, 0x23, 0x44}, LinkMode::kTcp, false},
      {"nak with right address", {0x66, 0x70, 0x4E, 0x00, 0x01, 0x23, 0x44}, LinkMode::kTcp, false},
      {"short", {0x66, 0x70, 0x4F, 0x00, 0x01, 0x23}, LinkMode::kTcp, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckProgramReply(c.reply.data(), static_cast<int>(c.reply.size()), c.mode, 0x00012344).Accepted(),
              c.good)
        << c.name;
  }
}

TEST(ReplyCheck, ReadReplyGivesTheIdentityBytes) {
  const Bytes tcp = ReadReplyTcp(0x420, kIdentity, 4);
  ASSERT_EQ(tcp.size(), 27u);
  for (LinkMode mode : {LinkMode::kTcp, LinkMode::kUdp}) {
    const Bytes reply = mode == LinkMode::kTcp ? tcp : AsUdp(tcp, 3);
    IdentityBlock identity{};
    ASSERT_TRUE(CheckReadReply(reply.data(), static_cast<int>(reply.size()), mode, identity).Accepted()) << static_cast<int>(mode);
    EXPECT_EQ(Bytes(identity.begin(), identity.end()), kIdentity);
  }
}

TEST(ReplyCheck, ReadReplyWithMoreWordsTakesTheFirstSixteenBytes) {
  Bytes data = kIdentity;
  data.insert(data.end(), {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4});
  const Bytes reply = ReadReplyTcp(0x420, data, 6);
  IdentityBlock identity{};
  ASSERT_TRUE(CheckReadReply(reply.data(), static_cast<int>(reply.size()), LinkMode::kTcp, identity).Accepted());
  EXPECT_EQ(Bytes(identity.begin(), identity.end()), kIdentity);
}

TEST(ReplyCheck, ReadReplyRejections) {
  const Bytes good = ReadReplyTcp(0x420, kIdentity, 4);
  struct Case {
    const char* name;
    Bytes reply;
  } cases[] = {
      {"one data bit flipped", [&] { Bytes r = good; r[9] ^= 0x01; return r; }()},
      {"address bit flipped", [&] { Bytes r = good; r[6] ^= 0x80; return r; }()},
      {"checksum byte off by one", [&] { Bytes r = good; r[26] += 1; return r; }()},
      {"count claims 5 words, carries 4", [&] { Bytes r = good; r[2] = 5; return r; }()},
      {"one byte missing", Bytes(good.begin(), good.end() - 1)},
      // Length and checksum agree with these counts, but the reply is too short
      // to hold the identity: never copy from beyond it.
      {"count 3", ReadReplyTcp(0x420, Bytes(kIdentity.begin(), kIdentity.begin() + 12), 3)},
      {"count 0", ReadReplyTcp(0x420, {}, 0)},
      {"count -2", [] {
         Bytes r = {0x66, 0x75, 0xFE};  // length 3 = 4 * (-2) + 11
         return r;
       }()},
  };
  for (const Case& c : cases) {
    IdentityBlock identity{};
    identity.fill(0xAA);
    EXPECT_FALSE(CheckReadReply(c.reply.data(), static_cast<int>(c.reply.size()), LinkMode::kTcp, identity).Accepted())
        << c.name;
    EXPECT_EQ(identity[0], 0xAA) << c.name << ": nothing is copied from a refused reply";
  }
}

}  // namespace
