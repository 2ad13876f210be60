#include "link/link.h"

#include <algorithm>
#include <cstring>

#include "common/diagnostic_line.h"
#include "link/frames.h"
#include "os/host.h"
#include "os/interfaces.h"

namespace {

int LoggedError(const BoardLink& link, const char* call) {
  const int error = SockLastError();
  SayOnLink(link, DiagnosticLine("%s failed %d.\n", call, error));
  return error;
}

// `remote` is the board's end, or the sender of a datagram passed over. The
// socket's own end is asked for once, and only when someone watches.
void Trace(BoardLink& link, LinkTraceEvent::Kind kind, const std::uint8_t* bytes, int length,
           const Endpoint& remote, std::uint32_t from = 0) {
  if (link.observer == nullptr) return;
  if (link.local.port == 0) SockLocalEndpoint(link.socket, remote, &link.local);
  link.observer->Trace({kind, link.mode, bytes, length, from, link.local, remote});
}

// Nothing arrived before the deadline: a value no datagram length can take.
constexpr int kNoDatagram = -1;

// Receives the next datagram from the board's address until `until`: its length,
// kNoDatagram, or the socket error code of a failed receive. Datagrams from any
// other address are passed over. The sender's port is reported in *fromPort.
int ReceiveFromBoard(BoardLink& link, std::uint8_t* buffer, std::int64_t until, std::uint16_t* fromPort) {
  for (std::int64_t left; (left = until - MonotonicMs()) > 0;) {
    const int ready = WaitReadable(link, static_cast<int>(left));
    if (ready == 0) return kNoDatagram;
    Endpoint from;
    const int received = SockRecvFrom(link.socket, buffer, kLinkRequestSize, &from);
    if (received < 0) {
      if (!SockWouldBlock()) return SockLastError();
      if (ready == 1) continue;
      return kNoDatagram;  // a failed wait with nothing to take counts as a time-out
    }
    if (from.address != link.boardUdp.address) {
      Trace(link, LinkTraceEvent::kPassedOver, buffer, received, from, from.address);
      continue;
    }
    *fromPort = from.port;
    return received;
  }
  return kNoDatagram;
}

bool IsDatagram(int received) { return received >= 0 && received <= kLinkRequestSize; }

// The probe is the identity read with sequence byte 0. Any answer from the board's
// address means the loader speaks UDP; what it says does not matter.
bool ProbeUdp(BoardLink& link) {
  LinkRequest buffer;
  const int length = BuildReadRequest(buffer, LinkMode::kUdp, 0);
  LinkRequest reply;
  for (int attempt = 0; attempt < link_const::kProbeAttempts; ++attempt) {
    SockSendTo(link.socket, buffer, length, link.boardUdp);
    Trace(link, attempt == 0 ? LinkTraceEvent::kRequest : LinkTraceEvent::kResend, buffer, length, link.boardUdp);
    std::uint16_t port = 0;
    const int received = ReceiveFromBoard(link, reply, MonotonicMs() + link.waits.probeMs, &port);
    if (IsDatagram(received)) {
      link.boardUdp.port = port;
      Trace(link, LinkTraceEvent::kReply, reply, received, link.boardUdp);
      return true;
    }
    Trace(link, LinkTraceEvent::kTimeout, nullptr, link.waits.probeMs, link.boardUdp);
  }
  return false;
}

LinkOutcome NoReply(int waitMs) {
  LinkOutcome outcome;
  outcome.cause = LinkCause::kNoReply;
  outcome.waitMs = waitMs;
  return outcome;
}

LinkOutcome SocketFailure(int error) {
  LinkOutcome outcome;
  outcome.cause = LinkCause::kSocketError;
  outcome.socketError = error;
  return outcome;
}

LinkOutcome Received(int length) {
  LinkOutcome outcome;
  outcome.length = length;
  return outcome;
}

// The slice a watched wait may last before the front end's Idle: the whole of
// what is left when nobody watches.
int Slice(const BoardLink& link, std::int64_t until) {
  const int left = static_cast<int>(std::max<std::int64_t>(0, until - MonotonicMs()));
  return link.observer != nullptr ? std::min(left, link_const::kIdleSliceMs) : left;
}

// The observer's Idle, when kIdleSliceMs have passed since it last ran.
void IdleIfDue(BoardLink& link) {
  if (link.observer == nullptr) return;
  const std::int64_t now = MonotonicMs();
  if (now - link.lastIdleMs < link_const::kIdleSliceMs) return;
  link.lastIdleMs = now;
  link.observer->Idle();
}

// 0 with the TCP connection standing, or the socket error code. A board that is
// switched off takes the whole kConnectTimeoutMs, which a window lives through.
int ConnectTcp(BoardLink& link) {
  int state = SockConnectStart(link.socket, link.boardTcp);
  const std::int64_t until = MonotonicMs() + link_const::kConnectTimeoutMs;
  while (state == 1) {
    if (MonotonicMs() >= until) return SockTimedOutError();
    state = SockConnectWait(link.socket, Slice(link, until));
    if (state == 1) IdleIfDue(link);
  }
  return state == 0 ? 0 : SockLastError();
}

// 0 with the link's socket tied to its interface (or none asked for), else the
// socket closed and the error code: a packet must never leave by another port.
int TieToInterface(BoardLink& link) {
  if (SockTieToInterface(link.socket, link.interfaceName) == 0) return 0;
  const int error = SockLastError();
  SockClose(link.socket);
  link.socket = kNoSocket;
  return error;
}

}  // namespace

void PauseLink(BoardLink& link, int milliseconds) {
  const std::int64_t until = MonotonicMs() + milliseconds;
  for (;;) {
    SleepMs(Slice(link, until));
    if (link.observer == nullptr || MonotonicMs() >= until) return;
    IdleIfDue(link);
  }
}

int LinkOutcome::Count() const {
  switch (cause) {
    case LinkCause::kNoReply: return link_const::kTimedOut;
    case LinkCause::kSocketError: return socketError;
    case LinkCause::kAccepted:
    case LinkCause::kRefused:
    case LinkCause::kMalformed:
    case LinkCause::kWrongEcho: return length;
  }
  return length;
}

BoardLink::~BoardLink() {
  if (IsOpen()) SockClose(socket);
}

void SayOnLink(const BoardLink& link, const std::string& line) {
  if (link.observer != nullptr) link.observer->Diagnostic(line);
}

int StartSockets() { return SockStartup(); }

std::uint8_t CurrentSequence(const BoardLink& link) { return link.sequence; }

OpenOutcome OpenLink(BoardLink& link, const char* address) {
  if (link.IsOpen()) {
    const int closed = SockClose(link.socket);
    link.socket = kNoSocket;
    if (closed != 0) return OpenOutcome::Failed(SockLastError());
  }
  // The address fields are read-only in the window, but other front ends take
  // typed text: refuse what is not a dotted quad rather than probe a broadcast.
  std::uint32_t board = 0;
  if (!SockParseAddress(address, &board)) return OpenOutcome::Failed(SockBadAddressError());

  link.socket = SockOpenUdp();
  if (!link.IsOpen()) return OpenOutcome::Failed(SockLastError());
  if (const int error = TieToInterface(link); error != 0) return OpenOutcome::Failed(error);
  link.mode = LinkMode::kUdp;
  link.local = {};
  link.sequence = 0;
  link.localUdp = {0, link_const::kUdpLocalPort};
  link.boardUdp = {board, link_const::kUdpBoardPort};
  // Without the fixed local port the socket still works on an ephemeral one;
  // a loader that insists on 1234 will then stay silent and we fall back to TCP.
  SockBindOnInterface(link.socket, link.interfaceName, link.localUdp.port);

  if (ProbeUdp(link)) {
    link.sequence = 1;
    return OpenOutcome::Open(LinkMode::kUdp);
  }

  SockClose(link.socket);
  link.mode = LinkMode::kTcp;
  link.local = {};
  link.socket = SockOpenTcp();
  if (!link.IsOpen()) return OpenOutcome::Failed(SockLastError());
  if (const int error = TieToInterface(link); error != 0) return OpenOutcome::Failed(error);
  // Where the interface receives (on Windows its own address), any local port.
  if (!link.interfaceName.empty()) SockBindOnInterface(link.socket, link.interfaceName, 0);
  link.boardTcp = {board, link_const::kTcpBoardPort};
  const int error = ConnectTcp(link);
  if (error != 0) {
    SockClose(link.socket);
    link.socket = kNoSocket;
    return OpenOutcome::Failed(error);
  }
  PauseLink(link, link.waits.pauseAfterConnectMs);
  return OpenOutcome::Open(LinkMode::kTcp);
}

int CloseLink(BoardLink& link) {
  if (!link.IsOpen() || SockClose(link.socket) != 0) return 1;
  link.socket = kNoSocket;
  return 0;
}

int WaitReadable(BoardLink& link, int milliseconds) {
  if (link.observer == nullptr) {
    const int ready = SockWaitReadable(link.socket, milliseconds);
    return ready < 0 ? LoggedError(link, "Select") : ready;
  }
  // A watched wait is cut into slices so the front end can keep its window
  // alive; the total wait and what it waits for are the same.
  const std::int64_t until = MonotonicMs() + milliseconds;
  for (;;) {
    const int ready = SockWaitReadable(link.socket, Slice(link, until));
    if (ready < 0) return LoggedError(link, "Select");
    IdleIfDue(link);  // also between replies that each come quickly
    if (ready > 0 || MonotonicMs() >= until) return ready;
  }
}

LinkOutcome TcpExchange(BoardLink& link, std::uint8_t* buffer, int length, int milliseconds) {
  if (SockSend(link.socket, buffer, length) != length) return SocketFailure(LoggedError(link, "Send"));
  Trace(link, LinkTraceEvent::kRequest, buffer, length, link.boardTcp);
  const int ready = WaitReadable(link, milliseconds);
  if (ready == 0) {
    Trace(link, LinkTraceEvent::kTimeout, nullptr, milliseconds, link.boardTcp);
    return NoReply(milliseconds);
  }
  // One receive makes the reply; the loader sends each reply in one piece.
  const int received = SockRecv(link.socket, buffer, kLinkRequestSize);
  if (received < 0) {
    // Only after a failed wait can there be nothing to take: a time-out then.
    if (SockWouldBlock()) return NoReply(milliseconds);
    return SocketFailure(LoggedError(link, "recv"));
  }
  Trace(link, LinkTraceEvent::kReply, buffer, received, link.boardTcp);
  return Received(received);
}

LinkOutcome UdpExchange(BoardLink& link, std::uint8_t* buffer, int length, int perSendMs, int giveUpMs) {
  // Stale replies land in buffer too, so resends come from a copy.
  LinkRequest request;
  std::memcpy(request, buffer, static_cast<size_t>(length));
  const std::int64_t giveUpAt = MonotonicMs() + giveUpMs;

  for (bool first = true;; first = false) {
    if (SockSendTo(link.socket, request, length, link.boardUdp) == -1) {
      return SocketFailure(LoggedError(link, "Sendto"));
    }
    Trace(link, first ? LinkTraceEvent::kRequest : LinkTraceEvent::kResend, request, length, link.boardUdp);
    const std::int64_t resendAt = std::min(MonotonicMs() + perSendMs, giveUpAt);
    std::uint16_t port = 0;
    for (int received; (received = ReceiveFromBoard(link, buffer, resendAt, &port)) != kNoDatagram;) {
      if (!IsDatagram(received)) {
        SayOnLink(link, DiagnosticLine("recvfrom failed %d.\n", received));
        return SocketFailure(received);
      }
      // A reply to an earlier request (a resend answered twice) is skipped, and
      // so is a datagram too short to carry a sequence byte at all.
      if (received < 1 || buffer[0] != link.sequence) {
        Trace(link, LinkTraceEvent::kPassedOver, buffer, received, {link.boardUdp.address, port},
              link.boardUdp.address);
        continue;
      }
      link.boardUdp.port = port;
      // 0 belonged to the probe and is never used again.
      link.sequence = link.sequence == 255 ? 1 : static_cast<std::uint8_t>(link.sequence + 1);
      Trace(link, LinkTraceEvent::kReply, buffer, received, link.boardUdp);
      return Received(received);
    }
    if (MonotonicMs() >= giveUpAt) {
      SayOnLink(link, DiagnosticLine("No reply from the board in %d ms.\n", giveUpMs));
      Trace(link, LinkTraceEvent::kTimeout, nullptr, giveUpMs, link.boardUdp);
      return NoReply(giveUpMs);
    }
  }
}
