// The link against the simulated board and against boards played by hand:
// probe and fallback, sequence bytes, stale and foreign datagrams, silence,
// and the error codes that must never look like a reply.

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "link/protocol.h"
#include "tests/support/log_text.h"
#include "tests/support/raw_socket.h"
#include "tests/support/sim_helpers.h"

namespace {

using raw::Bytes;

const Bytes kProbe = {0x00, 0x66, 0x75, 0x04, 0x00, 0x00, 0x04, 0x20};

int OpenDescriptors() {
#ifdef _WIN32
  DWORD handles = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
  return static_cast<int>(handles);
#else
  int count = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++count;
    ::closedir(d);
  }
  return count;
#endif
}

class LinkTest : public testing::Test {
 protected:
  BoardLink link{kFastWaits};
};

TEST_F(LinkTest, UdpBoardAnswersTheProbeWithSequenceZero) {
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kUdp));
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(CurrentSequence(link), 1);

  const auto events = sim.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].command, 'u');
  EXPECT_TRUE(events[0].udp);
  EXPECT_EQ(events[0].sequence, 0);
  EXPECT_EQ(events[0].address, 0x420u);

  IdentityBlock identity{};
  ASSERT_TRUE(ReadIdentity(link, identity).Accepted());
  EXPECT_EQ(identity[0], 'B');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&identity[1])), "123456");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&identity[10]), 4), "VR32");
  EXPECT_EQ(CurrentSequence(link), 2);
}

TEST_F(LinkTest, TcpOnlyBoardIsReachedAfterTheProbe) {
  SimBoard sim;
  START_SIM(sim, TcpBoard());
  ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kTcp));
  IdentityBlock identity{};
  ASSERT_TRUE(ReadIdentity(link, identity).Accepted());
  EXPECT_EQ(identity[0], 'B');
  const auto events = sim.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0].udp);
}

// With the board's own waits: three probes two seconds apart, then TCP to the
// board's fixed address, then the pause the loader needs after a connect.
TEST(LinkRealWaits, ProbeThreeTimesThenFallBackToTcp) {
  raw::Closer silentUdp{raw::Udp("192.168.167.100", 1235)};
  ASSERT_GE(silentUdp.fd, 0);
  SimOptions options = TcpBoard();
  options.bindAddress = "192.168.167.100";
  SimBoard sim;
  START_SIM(sim, options);

  BoardLink link;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(OpenLink(link, "192.168.167.100"), OpenOutcome::Open(LinkMode::kTcp));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(3 * 2000 + 1000 - 50));

  int probes = 0;
  Bytes datagram;
  Endpoint from;
  while (raw::Receive(silentUdp.fd, datagram, &from, 0)) {
    EXPECT_EQ(datagram, kProbe);
    EXPECT_EQ(from.port, 1234) << "probes leave from the loader's fixed local port";
    ++probes;
  }
  EXPECT_EQ(probes, 3);
  IdentityBlock identity{};
  EXPECT_TRUE(ReadIdentity(link, identity).Accepted());
  CloseLink(link);
}

TEST_F(LinkTest, ProbeAnswerContentIsIgnoredButItsSourceMatters) {
  struct Case {
    const char* name;
    Bytes reply;
    const char* replyFrom;
    OpenOutcome expected;
  } cases[] = {
      {"garbage from the board", {'x'}, "127.0.0.1", OpenOutcome::Open(LinkMode::kUdp)},
      {"empty datagram from the board", {}, "127.0.0.1", OpenOutcome::Open(LinkMode::kUdp)},
      // Nobody listens on TCP either, so the refused connect is the result.
      {"proper reply from elsewhere", {0x00, 0x66, 0x75, 0x04}, "127.0.0.9",
       OpenOutcome::Failed(SockRefusedError())},
  };
  const bool sendersDistinct = raw::LoopbackSendersDistinct();
  for (const Case& c : cases) {
    if (std::string(c.replyFrom) != "127.0.0.1" && !sendersDistinct) continue;  // under Wine
    raw::Closer board{raw::Udp("127.0.0.1", 1235)};
    raw::Closer answerer{raw::Udp(c.replyFrom, 0)};
    ASSERT_GE(board.fd, 0);
    std::thread peer([&] {
      Bytes request;
      Endpoint from;
      for (int i = 0; i < 3 && raw::Receive(board.fd, request, &from, 300); ++i) {
        raw::SendTo(answerer.fd, c.reply, from);
      }
    });
    EXPECT_EQ(OpenLink(link, "127.0.0.1"), c.expected) << c.name;
    peer.join();
    if (!c.expected.Opened()) {
      EXPECT_FALSE(link.IsOpen()) << c.name;
    }
  }
}

TEST_F(LinkTest, RefusedConnectReturnsTheErrorAndReleasesTheSocket) {
  const int before = OpenDescriptors();
  const int result = OpenLink(link, "127.0.0.1").error;
  EXPECT_EQ(result, SockRefusedError());
  EXPECT_GT(result, 128);
  EXPECT_NE(result, 297);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(LinkTest, AddressThatIsNotADottedQuadIsRefusedBeforeAnythingIsSent) {
  for (const char* text : {"192.168.167", "", "board", "192.168.167.1000"}) {
    const int result = OpenLink(link, text).error;
    EXPECT_GT(result, 128) << text;
    EXPECT_NE(result, 297) << text;
    EXPECT_FALSE(link.IsOpen()) << text;
  }
}

TEST_F(LinkTest, OpeningAgainClosesTheOldSocketAndResetsTheSequence) {
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kUdp));
  const int withOneLink = OpenDescriptors();
  IdentityBlock identity{};
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(ReadIdentity(link, identity).Accepted());
  ASSERT_EQ(CurrentSequence(link), 6);

  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kUdp));
    EXPECT_EQ(CurrentSequence(link), 1);
  }
  EXPECT_EQ(OpenDescriptors(), withOneLink);
}

TEST_F(LinkTest, CloseLink) {
  EXPECT_EQ(CloseLink(link), 1) << "no link to close";
  EXPECT_FALSE(link.IsOpen());

  SimBoard sim;
  START_SIM(sim, UdpBoard());
  ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kUdp));
  EXPECT_EQ(CloseLink(link), 0);
  EXPECT_FALSE(link.IsOpen());
}

TEST_F(LinkTest, SequenceRunsFromOneTo255AndWrapsToOne) {
  SimBoard sim;
  START_SIM(sim, UdpBoard());
  ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kUdp));
  IdentityBlock identity{};
  for (int exchange = 1; exchange <= 300; ++exchange) {
    const int sent = CurrentSequence(link);
    EXPECT_EQ(sent, (exchange - 1) % 255 + 1) << "exchange " << exchange;
    ASSERT_TRUE(ReadIdentity(link, identity).Accepted()) << "exchange " << exchange;
  }
  const auto events = sim.Events();
  for (size_t i = 1; i < events.size(); ++i) EXPECT_NE(events[i].sequence, 0) << "0 is the probe's alone";
}

TEST_F(LinkTest, IdentityReadSurvivesMisbehavingUdp) {
  struct Case {
    const char* name;
    void (*set)(SimFaults&);
  } cases[] = {
      {"every reply twice", [](SimFaults& f) { f.duplicateReplies = true; }},
      {"stale datagram before each reply", [](SimFaults& f) { f.staleBeforeReply = true; }},
      {"foreign datagram before each reply", [](SimFaults& f) { f.foreignBeforeReply = true; }},
      {"every second reply lost", [](SimFaults& f) { f.dropEveryNthUdpReply = 2; }},
      // Longer than the resend interval: the repeats are answered late, and
      // those answers reach the following exchanges as stale replies.
      {"replies slower than the resend interval", [](SimFaults& f) { f.replyDelayMs = 120; }},
  };
  // Under Wine a socket bound to 127.0.0.2 sends from 127.0.0.1: a foreign sender
  // cannot be played there.
  const bool sendersDistinct = raw::LoopbackSendersDistinct();
  for (const Case& c : cases) {
    if (std::string(c.name).starts_with("foreign") && !sendersDistinct) continue;
    SimOptions options = UdpBoard();
    c.set(options.faults);
    SimBoard sim;
    START_SIM(sim, options);
    ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kUdp)) << c.name;
    for (int i = 0; i < 6; ++i) {
      IdentityBlock identity{};
      ASSERT_TRUE(ReadIdentity(link, identity).Accepted()) << c.name << ", read " << i;
      EXPECT_EQ(identity[0], 'B') << c.name;
      EXPECT_EQ(identity[10], 'V') << c.name;
    }
    CloseLink(link);
  }
}

TEST_F(LinkTest, IdentityReadRefusesBadReplies) {
  struct Case {
    const char* name;
    bool udp;
    void (*set)(SimFaults&);
  } cases[] = {
      {"bad checksum, udp", true, [](SimFaults& f) { f.badReadChecksum = true; }},
      {"bad checksum, tcp", false, [](SimFaults& f) { f.badReadChecksum = true; }},
      {"claims more words than it carries", true, [](SimFaults& f) { f.readClaimsMoreWords = true; }},
      {"three words", false, [](SimFaults& f) { f.readCount = 3; }},
      {"no words", true, [](SimFaults& f) { f.readCount = 0; }},
      {"reply split over two segments", false, [](SimFaults& f) { f.splitTcpReplies = true; }},
  };
  for (const Case& c : cases) {
    SimOptions options = c.udp ? UdpBoard() : TcpBoard();
    c.set(options.faults);
    SimBoard sim;
    START_SIM(sim, options);
    ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(c.udp ? LinkMode::kUdp : LinkMode::kTcp)) << c.name;
    IdentityBlock identity{};
    EXPECT_FALSE(ReadIdentity(link, identity).Accepted()) << c.name;
    CloseLink(link);
  }
}

// A board that answers the probe and nothing after it.
class SilentUdpBoard {
 public:
  SilentUdpBoard() : socket_{raw::Udp("127.0.0.1", 1235)} {
    thread_ = std::thread([this] {
      Bytes request;
      Endpoint from;
      if (!raw::Receive(socket_.fd, request, &from, 2000)) return;
      raw::SendTo(socket_.fd, {0x00}, from);
      while (!stop_ && raw::Receive(socket_.fd, request, &from, 100)) requests_.push_back(request);
    });
  }
  ~SilentUdpBoard() { Join(); }
  std::vector<Bytes> Requests() {
    Join();
    return requests_;
  }

 private:
  void Join() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  raw::Closer socket_;
  std::atomic<bool> stop_{false};
  std::vector<Bytes> requests_;
  std::thread thread_;
};

TEST_F(LinkTest, SilentUdpBoardIsResentToAndThenGivenUp) {
  SilentUdpBoard board;
  ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kUdp));
  LinkRequest buffer;
  const int length = BuildEraseRequest(buffer, LinkMode::kUdp, CurrentSequence(link));
  DiagnosticLog log;
  link.observer = &log;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(UdpExchange(link, buffer, length, 50, 400).Count(), link_const::kTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "bounded, not hung";
  EXPECT_EQ(log.Text(), "No reply from the board in 400 ms.\n");
  EXPECT_EQ(CurrentSequence(link), 1) << "nothing was accepted";

  const auto requests = board.Requests();
  EXPECT_GE(requests.size(), 3u) << "unanswered requests are sent again";
  for (const Bytes& r : requests) EXPECT_EQ(r, (Bytes{0x01, 0x66, 0x65}));
}

TEST_F(LinkTest, SilentTcpBoardTimesOutWith297) {
  raw::Closer listener{raw::TcpListener("127.0.0.1", 1234)};
  ASSERT_GE(listener.fd, 0);
  ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kTcp));
  LinkRequest buffer;
  const int length = BuildEraseRequest(buffer, LinkMode::kTcp, 0);
  const LinkOutcome outcome = TcpExchange(link, buffer, length, 200);
  EXPECT_EQ(outcome.cause, LinkCause::kNoReply);
  EXPECT_EQ(outcome.waitMs, 200);
  EXPECT_EQ(outcome.Count(), link_const::kTimedOut);
  // The board's own waits: none beyond the cap, so a board that falls silent
  // mid-run is given up on within a minute.
  for (int ms : {kBoardWaits.readTcpMs, kBoardWaits.eraseTcpMs, kBoardWaits.programTcpMs, kBoardWaits.lockTcpMs,
                 kBoardWaits.udpGiveUpCapMs}) {
    EXPECT_LE(ms, link_const::kLongestReplyWaitMs);
  }
}

// A board played by hand: answers the probe, then runs `script` on each request.
template <typename Script>
void WithHandBoard(BoardLink& link, Script script) {
  raw::Closer board{raw::Udp("127.0.0.1", 1235)};
  raw::Closer other{raw::Udp("127.0.0.1", 4000)};
  ASSERT_GE(board.fd, 0);
  ASSERT_GE(other.fd, 0);
  std::thread peer([&] {
    Bytes request;
    Endpoint from;
    if (!raw::Receive(board.fd, request, &from, 2000)) return;
    raw::SendTo(board.fd, {0x00}, from);
    script(board.fd, other.fd);
  });
  ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kUdp));
  LinkRequest buffer;
  const int length = BuildEraseRequest(buffer, LinkMode::kUdp, CurrentSequence(link));
  const int received = UdpExchange(link, buffer, length, 50, 2000).Count();
  peer.join();
  EXPECT_EQ(received, 4) << "the board's reply";
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0x01, 0x66, 0x65, 0x4F}));
  EXPECT_EQ(CurrentSequence(link), 2);
}

TEST_F(LinkTest, StaleReplyIsSkippedAndTheResendCarriesTheOriginalRequest) {
  WithHandBoard(link, [](int board, int) {
    Bytes request;
    Endpoint from;
    ASSERT_TRUE(raw::Receive(board, request, &from, 1000));
    // A long stale reply overwrites the client's buffer in place.
    raw::SendTo(board, Bytes(100, 0x00), from);
    Bytes resent;
    ASSERT_TRUE(raw::Receive(board, resent, &from, 1000));
    EXPECT_EQ(resent, request);
    raw::SendTo(board, {0x01, 0x66, 0x65, 0x4F}, from);
  });
}

// A stale datagram from another port must not redirect the resends: one lost
// reply would otherwise become a give-up. Only an accepted reply moves the port.
TEST_F(LinkTest, OnlyAnAcceptedReplyMovesTheBoardPort) {
  WithHandBoard(link, [](int board, int other) {
    Bytes request;
    Endpoint from;
    ASSERT_TRUE(raw::Receive(board, request, &from, 1000));
    raw::SendTo(other, {0x00}, from);  // stale, from port 4000
    Bytes resent;
    ASSERT_TRUE(raw::Receive(board, resent, &from, 1000)) << "the resend still goes to the board's port";
    raw::SendTo(other, {0x01, 0x66, 0x65, 0x4F}, from);
  });
  EXPECT_EQ(link.boardUdp.port, 4000) << "later requests go where the accepted reply came from";
}

TEST_F(LinkTest, DatagramTooShortForASequenceByteIsPassedOver) {
  raw::Closer board{raw::Udp("127.0.0.1", 1235)};
  std::thread peer([&] {
    Bytes request;
    Endpoint from;
    for (int i = 0; i < 2 && raw::Receive(board.fd, request, &from, 2000); ++i) {
      raw::SendTo(board.fd, {}, from);
    }
  });
  ASSERT_EQ(OpenLink(link, "127.0.0.1"), OpenOutcome::Open(LinkMode::kUdp));
  LinkRequest buffer;
  const int length = BuildReadRequest(buffer, LinkMode::kUdp, CurrentSequence(link));
  EXPECT_EQ(UdpExchange(link, buffer, length, 50, 300).cause, LinkCause::kNoReply);
  peer.join();
  EXPECT_EQ(CurrentSequence(link), 1) << "nothing was accepted";
}

TEST_F(LinkTest, SocketFailuresAreLoggedAndNeverLookLikeReplies) {
  constexpr SocketHandle kBadHandle = 100000;
  const int badSocket = SockBadHandleError();
  struct Case {
    const char* name;
    int (*call)(BoardLink&, std::uint8_t*);
    std::string log;
  } cases[] = {
      {"tcp send", [](BoardLink& l, std::uint8_t* b) { return TcpExchange(l, b, 2, 100).Count(); }, "Send failed"},
      {"udp send", [](BoardLink& l, std::uint8_t* b) { return UdpExchange(l, b, 3, 50, 100).Count(); },
       "Sendto failed"},
      {"wait", [](BoardLink& l, std::uint8_t*) { return WaitReadable(l, 100); }, "Select failed"},
  };
  for (const Case& c : cases) {
    LinkRequest buffer = {0x01, 0x66, 0x65};
    DiagnosticLog log;
    BoardLink bad;
    bad.observer = &log;
    bad.socket = kBadHandle;
    const int result = c.call(bad, buffer);
    bad.socket = kNoSocket;
    EXPECT_EQ(result, badSocket) << c.name;
    EXPECT_EQ(log.Text(), c.log + " " + std::to_string(badSocket) + ".\n") << c.name;
  }
}

}  // namespace
