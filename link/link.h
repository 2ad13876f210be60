#pragma once

// The one link between the tool and the board's resident loader: start-up of the
// socket library, opening (UDP probe, TCP fallback), closing, and single
// request/reply exchanges. It knows bytes, lengths and waits; the commands that
// travel through it live in protocol.h.

#include <cstdint>

#include "link/socket_platform.h"

// The transport OpenLink chose. Callers keep OpenLink's result as a plain int,
// because a failed OpenLink leaves its error code in the same place.
enum LinkMode : int { kLinkTcp = 0, kLinkUdp = 1 };

// The socket handle of the link; kNoLink when there is none.
using LinkHandle = SocketHandle;
constexpr LinkHandle kNoLink = kNoSocket;

namespace link_const {
constexpr std::uint16_t kTcpBoardPort = 1234;
constexpr std::uint16_t kUdpLocalPort = 1234;
constexpr std::uint16_t kUdpBoardPort = 1235;
constexpr int kProbeAttempts = 3;
constexpr int kProbeWaitMs = 2000;        // per attempt
constexpr int kPauseAfterConnectMs = 1000;  // the loader needs a moment after accept
// A board that is switched off answers neither the probe nor the connect; give up
// on the connect after about as long as a desktop socket library takes by itself,
// rather than the minutes some stacks spend retrying.
constexpr int kConnectTimeoutMs = 21000;
constexpr int kReplyCapacity = 128;       // every reply is received into 128 bytes
constexpr int kTimedOut = 297;            // an exchange's "no reply in time"
}  // namespace link_const

// Every exchange works in place on one buffer of this size: the request is sent
// from it and the reply lands in it, overwriting the request.
constexpr int kLinkRequestSize = link_const::kReplyCapacity;
using LinkRequest = std::uint8_t[kLinkRequestSize];

// The process-wide state of the link. The board UDP endpoint follows the source
// port of every accepted datagram, so later requests go where the board answers
// from; the address stays the one the link was opened with.
struct BoardLink {
  Endpoint localUdp;
  Endpoint boardTcp;
  Endpoint boardUdp;
  std::uint8_t sequence = 0;  // 0 only during the probe; 1..255 afterwards
};

// The waits that shape how long a link operation may take. The tool always runs
// with kBoardWaits; tests may substitute shorter ones so that a silent board or a
// fallback to TCP does not cost them seconds.
struct LinkWaits {
  int probeMs;              // per probe attempt
  int pauseAfterConnectMs;  // after a TCP connect
  int pauseAfterLockMs;     // while the board resets after lock
  int udpGiveUpCapMs;       // a UDP exchange gives up after min(its TCP wait, this)
  int readTcpMs;            // TCP reply waits of the four commands
  int eraseTcpMs;
  int programTcpMs;
  int lockTcpMs;
  int udpPerSendMs;         // a UDP request unanswered this long is sent again
};
constexpr LinkWaits kBoardWaits{
    link_const::kProbeWaitMs, link_const::kPauseAfterConnectMs, 2000, 60000,
    5000, 60000, 5000000, 1000, 50,
};
const LinkWaits& Waits();
void SetWaitsForTest(const LinkWaits& waits);

// 0, or the socket library's error code when it cannot be started.
int StartSockets();

// Opens a link to the board at the dotted address: kLinkUdp (1) when the board
// answered the UDP probe, kLinkTcp (0) when a TCP connection stands instead,
// otherwise a socket error code (above 128, never 297). An open link in `link`
// is closed first.
int OpenLink(LinkHandle& link, const char* address);

// 0 with link set to kNoLink, or 1 when the handle cannot be closed (it stays).
int CloseLink(LinkHandle& link);

// 1 when readable, 0 on time-out, or a socket error code.
int WaitReadable(LinkHandle link, int milliseconds);

// Sends `length` bytes of buffer and receives the reply into it (at most
// kLinkRequestSize bytes). Returns the reply's length, kTimedOut, or a socket
// error code. Over UDP buffer[0] must hold CurrentSequence(); an unanswered
// request is sent again every perSendMs until giveUpMs have passed.
int TcpExchange(LinkHandle link, std::uint8_t* buffer, int length, int milliseconds);
int UdpExchange(LinkHandle link, std::uint8_t* buffer, int length, int perSendMs, int giveUpMs);

std::uint8_t CurrentSequence();
