// The simulated board against a hand-written client: replies byte for byte,
// what ends up in its flash, and the faults it injects.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "sim/sim_board.h"
#include "tests/sim/raw_client.h"
#include "tests/support/raw_socket.h"

namespace {

using namespace simtest;

constexpr std::uint32_t kIdentity = 0x420;

// A read reply (TCP layout) must be internally consistent: its length follows
// from its count byte and its checksum covers the address and data words.
void ExpectConsistentRead(const Bytes& r, std::uint32_t address, int words) {
  ASSERT_EQ(r.size(), static_cast<std::size_t>(4 * words + 11));
  EXPECT_EQ(r[0], 0x66);
  EXPECT_EQ(r[1], 0x75);
  EXPECT_EQ(r[2], words);
  EXPECT_EQ(At32(r, 3), address);
  EXPECT_EQ(At32(r, r.size() - 4), SumWords(r, 3, r.size() - 4));
}

Bytes DropSequence(Bytes udp) {
  if (!udp.empty()) udp.erase(udp.begin());
  return udp;
}

Bytes ProgramAck(std::uint32_t echoed, std::uint8_t ack = 0x4F) {
  Bytes b = {0x66, 0x70, ack};
  Put32(b, echoed);
  return b;
}

TEST(SimBoard, UdpReadEchoesTheSequenceAndCarriesTheIdentity) {
  SimBoard board;
  ASSERT_TRUE(board.Start(SimOptions{})) << board.Error();
  Udp udp;
  const Bytes reply = udp.Exchange(UdpFrame(7, ReadFrame(kIdentity)));
  ASSERT_EQ(reply.size(), 28u);
  EXPECT_EQ(reply[0], 7);
  ExpectConsistentRead(DropSequence(reply), kIdentity, 4);
  const Bytes identity(reply.begin() + 8, reply.begin() + 24);
  const Bytes expected = {'B', '1', '2', '3', '4', '5', '6', 0, 0xFF, 0xFF, 'V', 'R', '3', '2', 0xFF, 0xFF};
  EXPECT_EQ(identity, expected);

  const auto events = board.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].command, 'u');
  EXPECT_TRUE(events[0].udp);
  EXPECT_EQ(events[0].sequence, 7);
  EXPECT_EQ(events[0].address, kIdentity);
  EXPECT_TRUE(events[0].accepted && events[0].replied && !events[0].repeat);
}

TEST(SimBoard, LongSerialNumberOverwritesTheHardwareCode) {
  SimOptions options;
  options.serial = "ABCDEFGHIJKLMNO";
  SimBoard board;
  ASSERT_TRUE(board.Start(options)) << board.Error();
  const auto flash = board.Flash();
  EXPECT_EQ(std::string(flash.begin() + kIdentity + 1, flash.begin() + kIdentity + 17), options.serial + '\0');
}

TEST(SimBoard, ProgramReadBackEraseAndLockOverBothTransports) {
  SimBoard board;
  ASSERT_TRUE(board.Start(SimOptions{})) << board.Error();
  Udp udp;
  Tcp tcp;
  ASSERT_TRUE(tcp.Connected());

  EXPECT_EQ(DropSequence(udp.Exchange(UdpFrame(1, ProgramFrame(0x1000, Pattern64(1))))), ProgramAck(0x1000));
  tcp.Send(ProgramFrame(0x1FFC0, Pattern64(2)));  // the last frame that fits
  EXPECT_EQ(tcp.Receive(7), ProgramAck(0x1FFC0));
  EXPECT_EQ(board.ProgramFramesWritten(), 2);

  tcp.Send(ReadFrame(0x1000));
  const Bytes read = tcp.Receive(27);
  ExpectConsistentRead(read, 0x1000, 4);
  EXPECT_TRUE(std::equal(read.begin() + 7, read.begin() + 23, Pattern64(1).begin()));

  tcp.Send(LockFrame());
  EXPECT_EQ(tcp.Receive(3), (Bytes{0x66, 0x6C, 0x4F}));
  EXPECT_TRUE(board.Locked());

  EXPECT_EQ(DropSequence(udp.Exchange(UdpFrame(2, EraseFrame()))), (Bytes{0x66, 0x65, 0x4F}));
  const auto flash = board.Flash();
  EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(board.ProgramFramesWritten(), 0);
  EXPECT_FALSE(board.Locked());
}

TEST(SimBoard, RefusedProgramFramesWriteNothing) {
  struct Case {
    const char* name;
    Bytes frame;
  } cases[] = {
      {"checksum off by one", ProgramFrame(0x2000, Pattern64(3), 1)},
      {"address not a multiple of 4", ProgramFrame(0x2002, Pattern64(3))},
      {"frame runs past the flash", ProgramFrame(0x1FFC4, Pattern64(3))},
      {"address far beyond the flash", ProgramFrame(0xFFFFFFC0, Pattern64(3))},
  };
  for (const Case& c : cases) {
    SimBoard board;
    ASSERT_TRUE(board.Start(SimOptions{})) << board.Error();
    const auto before = board.Flash();
    Tcp tcp;
    tcp.Send(c.frame);
    EXPECT_EQ(tcp.Receive(7), ProgramAck(At32(c.frame, 3), 0x4E)) << c.name;
    EXPECT_EQ(board.Flash(), before) << c.name;
    EXPECT_EQ(board.ProgramFramesWritten(), 0) << c.name;
    EXPECT_FALSE(board.Events().at(0).accepted) << c.name;
  }
}

// The k-th frame counts distinct frames: a UDP resend of the first one (same
// sequence byte) does not move the count.
TEST(SimBoard, KthFrameFaultsCountDistinctFrames) {
  struct Case {
    const char* name;
    void (*set)(SimFaults&);
    Bytes secondReply;  // empty: no reply
    int written;
  } cases[] = {
      {"refused", [](SimFaults& f) { f.nakAtProgramFrame = 2; }, ProgramAck(0x140, 0x4E), 1},
      {"wrong echo", [](SimFaults& f) { f.wrongEchoAtProgramFrame = 2; }, ProgramAck(0x144), 2},
      {"silent", [](SimFaults& f) { f.silentAfterProgramFrames = 1; }, {}, 1},
  };
  for (const Case& c : cases) {
    SimOptions options;
    c.set(options.faults);
    SimBoard board;
    ASSERT_TRUE(board.Start(options)) << board.Error();
    Udp udp;
    const Bytes first = UdpFrame(1, ProgramFrame(0x100, Pattern64(4)));
    EXPECT_EQ(DropSequence(udp.Exchange(first)), ProgramAck(0x100)) << c.name;
    udp.Send(first);
    const auto again = udp.Receive(c.secondReply.empty() ? kSilenceWaitMs : kReplyWaitMs);
    EXPECT_EQ(again.has_value(), !c.secondReply.empty()) << c.name;
    udp.Send(UdpFrame(2, ProgramFrame(0x140, Pattern64(5))));
    const auto second = udp.Receive(c.secondReply.empty() ? kSilenceWaitMs : kReplyWaitMs);
    EXPECT_EQ(second ? DropSequence(second->bytes) : Bytes{}, c.secondReply) << c.name;
    EXPECT_EQ(board.ProgramFramesWritten(), c.written) << c.name;
    EXPECT_TRUE(board.Events().at(1).repeat) << c.name;
  }
}

TEST(SimBoard, SilentBoardAnswersNothingOverEitherTransport) {
  SimOptions options;
  options.faults.silentAfterProgramFrames = 0;
  SimBoard board;
  ASSERT_TRUE(board.Start(options)) << board.Error();
  Udp udp;
  udp.Send(UdpFrame(0, ReadFrame(kIdentity)));
  EXPECT_FALSE(udp.Receive(kSilenceWaitMs));
  Tcp tcp;
  ASSERT_TRUE(tcp.Connected());
  tcp.Send(EraseFrame());
  EXPECT_TRUE(tcp.ReceiveOnce(kSilenceWaitMs).empty());
  EXPECT_EQ(board.Events().size(), 2u);
  EXPECT_EQ(board.Flash()[kIdentity], 'B');  // the erase was not carried out either
}

TEST(SimBoard, ReadReplyFaults) {
  struct Case {
    const char* name;
    void (*set)(SimFaults&);
    std::uint8_t asked;
    std::size_t length;
    int countByte;
    bool checksumRight;
  } cases[] = {
      {"short reply", [](SimFaults& f) { f.readCount = 2; }, 4, 19, 2, true},
      {"no words", [](SimFaults& f) { f.readCount = 0; }, 4, 11, 0, true},
      {"claims one more word", [](SimFaults& f) { f.readClaimsMoreWords = true; }, 4, 27, 5, true},
      {"checksum off", [](SimFaults& f) { f.badReadChecksum = true; }, 4, 27, 4, false},
      {"more than fits is cut to 29 words", [](SimFaults&) {}, 200, 127, 29, true},
  };
  for (const Case& c : cases) {
    SimOptions options;
    c.set(options.faults);
    SimBoard board;
    ASSERT_TRUE(board.Start(options)) << board.Error();
    Tcp tcp;
    tcp.Send(ReadFrame(kIdentity, c.asked));
    const Bytes r = tcp.Receive(c.length);
    ASSERT_EQ(r.size(), c.length) << c.name;
    EXPECT_EQ(r[2], c.countByte) << c.name;
    EXPECT_EQ(At32(r, r.size() - 4) == SumWords(r, 3, r.size() - 4), c.checksumRight) << c.name;
  }
}

TEST(SimBoard, UdpReplyFaults) {
  const Bytes request = UdpFrame(9, ReadFrame(kIdentity));
  SimBoard plain;
  ASSERT_TRUE(plain.Start(SimOptions{})) << plain.Error();
  const Bytes reply = Udp().Exchange(request);
  plain.Stop();

  struct Case {
    const char* name;
    void (*set)(SimFaults&);
    bool copyFirst;     // an exact copy of the reply precedes it
    bool staleFirst;    // a datagram with the previous sequence byte precedes it
    const char* firstFrom;
  } cases[] = {
      {"duplicate", [](SimFaults& f) { f.duplicateReplies = true; }, true, false, "127.0.0.1"},
      {"foreign", [](SimFaults& f) { f.foreignBeforeReply = true; }, true, false, "127.0.0.2"},
      {"stale", [](SimFaults& f) { f.staleBeforeReply = true; }, false, true, "127.0.0.1"},
  };
  const bool sendersDistinct = raw::LoopbackSendersDistinct();
  for (const Case& c : cases) {
    if (std::string(c.firstFrom) != "127.0.0.1" && !sendersDistinct) continue;  // under Wine
    SimOptions options;
    c.set(options.faults);
    SimBoard board;
    ASSERT_TRUE(board.Start(options)) << board.Error();
    Udp udp;
    udp.Send(request);
    const auto first = udp.Receive();
    const auto second = udp.Receive();
    ASSERT_TRUE(first && second) << c.name;
    EXPECT_EQ(first->from, c.firstFrom) << c.name;
    EXPECT_EQ(second->from, "127.0.0.1") << c.name;
    EXPECT_EQ(second->bytes, reply) << c.name;
    if (c.copyFirst) {
      EXPECT_EQ(first->bytes, reply) << c.name;
    }
    if (c.staleFirst) {
      EXPECT_EQ(first->bytes[0], 8) << c.name;
      // Taken for the real reply, it would fail the tool's checksum.
      EXPECT_NE(At32(first->bytes, 24), SumWords(first->bytes, 4, 24)) << c.name;
    }
    EXPECT_FALSE(udp.Receive(kSilenceWaitMs)) << c.name;
  }
}

TEST(SimBoard, DroppedUdpRepliesCountResendsToo) {
  SimOptions options;
  options.faults.dropEveryNthUdpReply = 2;
  SimBoard board;
  ASSERT_TRUE(board.Start(options)) << board.Error();
  Udp udp;
  EXPECT_FALSE(udp.Exchange(UdpFrame(1, EraseFrame())).empty());  // reply 1
  const Bytes program = UdpFrame(2, ProgramFrame(0x40, Pattern64(6)));
  udp.Send(program);                                                // reply 2: dropped
  EXPECT_FALSE(udp.Receive(kSilenceWaitMs));
  EXPECT_EQ(DropSequence(udp.Exchange(program)), ProgramAck(0x40));  // reply 3
  EXPECT_EQ(board.ProgramFramesWritten(), 1);
}

TEST(SimBoard, TcpStreamIsCutIntoFrames) {
  SimBoard board;
  ASSERT_TRUE(board.Start(SimOptions{})) << board.Error();
  Tcp tcp;
  ASSERT_TRUE(tcp.Connected());
  // A frame arriving in two pieces is taken once whole; two frames in one
  // segment get two replies; bytes that start no known frame are dropped.
  const Bytes program = ProgramFrame(0x80, Pattern64(7));
  tcp.Send(Bytes(program.begin(), program.begin() + 10));
  EXPECT_TRUE(tcp.ReceiveOnce(kSilenceWaitMs).empty());
  tcp.Send(Bytes(program.begin() + 10, program.end()));
  EXPECT_EQ(tcp.Receive(7), ProgramAck(0x80));
  tcp.Send({0x66, 0x6C, 0x66, 0x6C});
  EXPECT_EQ(tcp.Receive(6), (Bytes{0x66, 0x6C, 0x4F, 0x66, 0x6C, 0x4F}));
  tcp.Send({0x66, 0x99, 0x66, 0x65});
  EXPECT_TRUE(tcp.ReceiveOnce(kSilenceWaitMs).empty());
  tcp.Send(EraseFrame());
  EXPECT_EQ(tcp.Receive(3), (Bytes{0x66, 0x65, 0x4F}));
  EXPECT_EQ(board.Events().at(3).command, '?');

  // A second connection replaces the first.
  Tcp next;
  ASSERT_TRUE(next.Connected());
  next.Send(LockFrame());
  EXPECT_EQ(next.Receive(3), (Bytes{0x66, 0x6C, 0x4F}));
  EXPECT_TRUE(tcp.ClosedByPeer());
}

// Each reply leaves as two segments 30 ms apart; a receiver that takes one
// receive gets the first part. Three replies are tried, so a scheduling hiccup
// in a loaded test run cannot make the check fail on its own.
TEST(SimBoard, SplitTcpRepliesArriveInTwoParts) {
  SimOptions options;
  options.faults.splitTcpReplies = true;
  options.faults.duplicateReplies = true;  // the two copies must not interleave
  SimBoard board;
  ASSERT_TRUE(board.Start(options)) << board.Error();
  Tcp tcp;
  ASSERT_TRUE(tcp.Connected());
  bool sawPart = false;
  for (int i = 0; i < 3; ++i) {
    tcp.Send(ReadFrame(kIdentity));
    const Bytes first = tcp.ReceiveOnce();
    sawPart = sawPart || (!first.empty() && first.size() < 27);
    Bytes both = first;
    const Bytes rest = tcp.Receive(54 - first.size());
    both.insert(both.end(), rest.begin(), rest.end());
    ASSERT_EQ(both.size(), 54u);
    EXPECT_TRUE(std::equal(both.begin(), both.begin() + 27, both.begin() + 27));
    ExpectConsistentRead(Bytes(both.begin(), both.begin() + 27), kIdentity, 4);
  }
  EXPECT_TRUE(sawPart);
}

std::string LineFlashFile() {
  return (std::filesystem::path(testing::TempDir()) / ("sim_line_" + std::to_string(::getpid()) + ".bin")).string();
}

std::string SerialIn(const Bytes& udpIdentityReply) {
  return udpIdentityReply.size() == 28 ? std::string(udpIdentityReply.begin() + 9, udpIdentityReply.begin() + 15) : "";
}

// Until `done` holds or three seconds have passed.
template <typename Done>
bool Within3s(Done done) {
  for (int i = 0; i < 300 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

// What a production line asks of the board: reads anywhere, so that a tool can
// read back what it wrote; a frame acknowledged but stored wrong, which only a
// read-back can catch; boards that follow each other, each after the previous
// one's lock and silence; and an event record that stays bounded.
TEST(SimBoard, ProductionLine) {
  struct Case {
    const char* name;
    void (*set)(SimOptions&);
    void (*run)(SimBoard&);
  } cases[] = {
      {"reads anywhere", [](SimOptions&) {},
       [](SimBoard& board) {
         std::vector<std::uint8_t> expected = board.Flash();
         Tcp tcp;
         for (std::uint32_t at : {0x0u, 0x1FFC0u}) {
           tcp.Send(ProgramFrame(at, Pattern64(static_cast<std::uint8_t>(at >> 8))));
           ASSERT_EQ(tcp.Receive(7), ProgramAck(at));
           std::copy_n(Pattern64(static_cast<std::uint8_t>(at >> 8)).begin(), 64, expected.begin() + at);
         }
         // Bytes at or beyond the end of the flash read as erased.
         for (std::uint32_t at : {0x0u, 0x3Cu, 0x41Fu, 0x420u, 0x1FFC0u, 0x1FFFCu, 0x1FFF8u, 0x20000u, 0xFFFFFFFCu}) {
           tcp.Send(ReadFrame(at));
           const Bytes r = tcp.Receive(27);
           ExpectConsistentRead(r, at, 4);
           for (std::uint32_t i = 0; i < 16 && r.size() == 27; ++i) {
             const std::uint64_t byte = std::uint64_t{at} + i;
             EXPECT_EQ(r[7 + i], byte < expected.size() ? expected[byte] : 0xFF) << std::hex << byte;
           }
         }
       }},
      {"second frame stored wrong", [](SimOptions& o) { o.faults.corruptProgramFrame = 2; },
       [](SimBoard& board) {
         Udp udp;
         for (std::uint8_t k = 1; k <= 3; ++k) {
           const std::uint32_t at = 0x100u + 0x40u * k;
           EXPECT_EQ(DropSequence(udp.Exchange(UdpFrame(k, ProgramFrame(at, Pattern64(k))))), ProgramAck(at));
           const Bytes read = DropSequence(udp.Exchange(UdpFrame(k + 10, ReadFrame(at, 16))));
           ASSERT_EQ(read.size(), 75u);
           Bytes stored(read.begin() + 7, read.begin() + 71);
           if (k == 2) stored[0] ^= 0x01;
           EXPECT_EQ(stored, Pattern64(k)) << "frame " << int{k};
         }
         EXPECT_EQ(board.ProgramFramesWritten(), 3);
       }},
      {"two boards in turn",
       [](SimOptions& o) {
         o.lineBoards = 2;
         o.resetSilenceMs = 300;
         o.serial = "SN0099";
         o.flashFile = LineFlashFile();
       },
       [](SimBoard& board) {
         Udp udp;
         EXPECT_EQ(SerialIn(udp.Exchange(UdpFrame(1, ReadFrame(kIdentity)))), "SN0099");
         Tcp first;
         first.Send(ProgramFrame(0x2000, Pattern64(8)));
         ASSERT_EQ(first.Receive(7), ProgramAck(0x2000));
         const auto lockedAt = std::chrono::steady_clock::now();
         first.Send(LockFrame());
         ASSERT_EQ(first.Receive(3), (Bytes{0x66, 0x6C, 0x4F}));

         // Resetting: nothing answers, and a new connection is refused.
         EXPECT_FALSE(Tcp().Connected());
         first.Send(ReadFrame(kIdentity));
         EXPECT_TRUE(first.ReceiveOnce(kSilenceWaitMs).empty());
         Bytes next;
         for (int probe = 2; probe < 60 && next.empty(); ++probe) {
           udp.Send(UdpFrame(static_cast<std::uint8_t>(probe), ReadFrame(kIdentity)));
           if (auto reply = udp.Receive(50)) next = reply->bytes;
         }
         EXPECT_GE(std::chrono::steady_clock::now() - lockedAt, std::chrono::milliseconds(300));
         EXPECT_EQ(SerialIn(next), "SN0100");
         EXPECT_EQ(board.CurrentBoard(), 2);
         EXPECT_TRUE(first.ClosedByPeer());

         // Board 1 kept what it was given; board 2 comes fresh from the factory.
         const auto one = board.BoardFlash(1);
         ASSERT_EQ(one.size(), 0x20000u);
         EXPECT_TRUE(std::equal(one.begin() + 0x2000, one.begin() + 0x2040, Pattern64(8).begin()));
         {
           // Closed before the file is removed below: Windows removes no open file.
           std::ifstream in(LineFlashFile() + ".1", std::ios::binary);
           EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), one);
         }
         const auto two = board.Flash();
         EXPECT_EQ(std::count(two.begin(), two.end(), 0xFF), 0x20000 - 12);
         EXPECT_FALSE(board.Locked());

         // After the last board the line stays silent.
         Tcp second;
         ASSERT_TRUE(second.Connected());
         second.Send(LockFrame());
         EXPECT_EQ(second.Receive(3), (Bytes{0x66, 0x6C, 0x4F}));
         EXPECT_TRUE(Within3s([&board] { return board.CurrentBoard() == 3; }));
         EXPECT_FALSE(Tcp().Connected());
         EXPECT_TRUE(udp.Exchange(UdpFrame(99, ReadFrame(kIdentity))).empty());
         EXPECT_EQ(board.Events().back().board, 3);
         EXPECT_EQ(board.BoardFlash(2).size(), 0x20000u);
         EXPECT_TRUE(board.BoardFlash(3).empty());
         std::filesystem::remove(LineFlashFile() + ".1");
         std::filesystem::remove(LineFlashFile() + ".2");
       }},
      {"event record bounded", [](SimOptions& o) { o.eventsKept = 500; },
       [](SimBoard& board) {
         // Lock-step reads, so that none is lost to a full socket buffer; not a
         // multiple of the ring's size, so that the oldest kept is mid-ring.
         constexpr int kRequests = 1234;
         Udp udp;
         const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         int answered = 0;
         for (int i = 0; i < kRequests && std::chrono::steady_clock::now() < deadline; ++i) {
           answered += !udp.Exchange(UdpFrame(static_cast<std::uint8_t>(i), ReadFrame(kIdentity))).empty();
         }
         ASSERT_EQ(answered, kRequests);
         EXPECT_EQ(board.EventCount(), std::uint64_t{kRequests});
         const auto events = board.Events();
         ASSERT_EQ(events.size(), 500u);
         for (std::size_t j = 0; j < events.size(); ++j) {
           ASSERT_EQ(events[j].sequence, static_cast<std::uint8_t>(kRequests - 500 + j)) << "the most recent, in order";
         }
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions options;
    c.set(options);
    SimBoard board;
    ASSERT_TRUE(board.Start(options)) << board.Error();
    c.run(board);
  }
}

TEST(SimBoard, StartRefusesWhatItCannotServe) {
  SimBoard first;
  ASSERT_TRUE(first.Start(SimOptions{})) << first.Error();
  SimOptions longSerial, noTransport;
  longSerial.serial = "0123456789ABCDEF";
  longSerial.udpPort = longSerial.tcpPort = 4000;
  noTransport.udp = noTransport.tcp = false;
  for (const SimOptions& options : {SimOptions{}, longSerial, noTransport}) {
    SimBoard second;
    EXPECT_FALSE(second.Start(options));
    EXPECT_FALSE(second.Error().empty());
  }
}

}  // namespace
