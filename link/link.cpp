#include "link/link.h"

#include <algorithm>
#include <cstring>

#include "common/log_line.h"
#include "link/frames.h"

namespace {

BoardLink gBoardLink;
LinkWaits gWaits = kBoardWaits;

int LoggedError(const char* format) {
  const int error = SockLastError();
  LogLine(format, error);
  return error;
}

// Nothing arrived before the deadline: a value no datagram length can take.
constexpr int kNoDatagram = -1;

// Receives the next datagram from the board's address until `until`: its length,
// kNoDatagram, or the socket error code of a failed receive. Datagrams from any
// other address are passed over; the board's source port becomes the port that
// later requests go to.
int ReceiveFromBoard(LinkHandle link, std::uint8_t* buffer, std::int64_t until) {
  for (std::int64_t left; (left = until - MonotonicMs()) > 0;) {
    const int ready = WaitReadable(link, static_cast<int>(left));
    if (ready == 0) return kNoDatagram;
    Endpoint from;
    const int received = SockRecvFrom(link, buffer, kLinkRequestSize, &from);
    if (received < 0) {
      if (!SockWouldBlock()) return SockLastError();
      if (ready == 1) continue;
      return kNoDatagram;  // a failed wait with nothing to take counts as a time-out
    }
    if (from.address != gBoardLink.boardUdp.address) continue;
    gBoardLink.boardUdp.port = from.port;
    return received;
  }
  return kNoDatagram;
}

bool IsDatagram(int received) { return received >= 0 && received <= kLinkRequestSize; }

// The probe is the identity read with sequence byte 0. Any answer from the board's
// address means the loader speaks UDP; what it says does not matter.
bool ProbeUdp(LinkHandle link) {
  LinkRequest buffer;
  const int length = BuildReadRequest(buffer, kLinkUdp, 0);
  LinkRequest reply;
  for (int attempt = 0; attempt < link_const::kProbeAttempts; ++attempt) {
    SockSendTo(link, buffer, length, gBoardLink.boardUdp);
    if (IsDatagram(ReceiveFromBoard(link, reply, MonotonicMs() + gWaits.probeMs))) return true;
  }
  return false;
}

}  // namespace

const LinkWaits& Waits() { return gWaits; }
void SetWaitsForTest(const LinkWaits& waits) { gWaits = waits; }

int StartSockets() { return SockStartup(); }

std::uint8_t CurrentSequence() { return gBoardLink.sequence; }

int OpenLink(LinkHandle& link, const char* address) {
  if (link != kNoLink) {
    if (SockClose(link) != 0) {
      link = kNoLink;
      return SockLastError();
    }
    link = kNoLink;
  }
  // The address fields are read-only in the window, but other front ends take
  // typed text: refuse what is not a dotted quad rather than probe a broadcast.
  std::uint32_t board = 0;
  if (!SockParseAddress(address, &board)) return SockBadAddressError();

  link = SockOpenUdp();
  if (link == kNoLink) return SockLastError();
  gBoardLink.sequence = 0;
  gBoardLink.localUdp = {0, link_const::kUdpLocalPort};
  gBoardLink.boardUdp = {board, link_const::kUdpBoardPort};
  // Without the fixed local port the socket still works on an ephemeral one;
  // a loader that insists on 1234 will then stay silent and we fall back to TCP.
  SockBind(link, gBoardLink.localUdp);

  if (ProbeUdp(link)) {
    gBoardLink.sequence = 1;
    return kLinkUdp;
  }

  SockClose(link);
  link = SockOpenTcp();
  if (link == kNoLink) return SockLastError();
  gBoardLink.boardTcp = {board, link_const::kTcpBoardPort};
  if (SockConnect(link, gBoardLink.boardTcp, link_const::kConnectTimeoutMs) != 0) {
    const int error = SockLastError();
    SockClose(link);
    link = kNoLink;
    return error;
  }
  SleepMs(gWaits.pauseAfterConnectMs);
  return kLinkTcp;
}

int CloseLink(LinkHandle& link) {
  if (SockClose(link) != 0) return 1;
  link = kNoLink;
  return 0;
}

int WaitReadable(LinkHandle link, int milliseconds) {
  const int ready = SockWaitReadable(link, milliseconds);
  if (ready < 0) return LoggedError("Select failed %d.\n");
  return ready;
}

int TcpExchange(LinkHandle link, std::uint8_t* buffer, int length, int milliseconds) {
  if (SockSend(link, buffer, length) != length) return LoggedError("Send failed %d.\n");
  const int ready = WaitReadable(link, milliseconds);
  if (ready == 0) return link_const::kTimedOut;
  // One receive makes the reply; the loader sends each reply in one piece.
  const int received = SockRecv(link, buffer, kLinkRequestSize);
  if (received < 0) {
    // Only after a failed wait can there be nothing to take: a time-out then.
    if (SockWouldBlock()) return link_const::kTimedOut;
    return LoggedError("recv failed %d.\n");
  }
  return received;
}

int UdpExchange(LinkHandle link, std::uint8_t* buffer, int length, int perSendMs, int giveUpMs) {
  // Stale replies land in buffer too, so resends come from a copy.
  LinkRequest request;
  std::memcpy(request, buffer, static_cast<size_t>(length));
  const std::int64_t giveUpAt = MonotonicMs() + giveUpMs;

  for (;;) {
    if (SockSendTo(link, request, length, gBoardLink.boardUdp) == -1) {
      return LoggedError("Sendto failed %d.\n");
    }
    const std::int64_t resendAt = std::min(MonotonicMs() + perSendMs, giveUpAt);
    for (int received; (received = ReceiveFromBoard(link, buffer, resendAt)) != kNoDatagram;) {
      if (!IsDatagram(received)) {
        LogLine("recvfrom failed %d.\n", received);
        return received;
      }
      // A reply to an earlier request (a resend answered twice) is skipped.
      if (buffer[0] != gBoardLink.sequence) continue;
      // 0 belonged to the probe and is never used again.
      gBoardLink.sequence = gBoardLink.sequence == 255 ? 1 : static_cast<std::uint8_t>(gBoardLink.sequence + 1);
      return received;
    }
    if (MonotonicMs() >= giveUpAt) {
      LogLine("No reply from the board in %d ms.\n", giveUpMs);
      return link_const::kTimedOut;
    }
  }
}
