#pragma once

// Plain sockets for tests that play the board by hand, byte by byte, where the
// simulated board cannot be made to misbehave in exactly the way a test needs.
// Every receive is bounded in time. The calls are the shared socket
// platform's, on POSIX and under Winsock alike; the frames are the test's own.

#include <cstdint>
#include <vector>

#include "os/socket.h"

namespace raw {

using Bytes = std::vector<std::uint8_t>;

inline Endpoint Address(const char* ip, std::uint16_t port) {
  Endpoint e{0, port};
  SockParseAddress(ip, &e.address);
  return e;
}

// A UDP socket bound to ip:port (port 0: any); -1 on failure.
inline int Udp(const char* ip, std::uint16_t port) {
  SocketHandle s = SockOpenUdp();
  if (s != kNoSocket && SockBind(s, Address(ip, port)) != 0) {
    SockClose(s);
    s = kNoSocket;
  }
  return s;
}

// A listening TCP socket on ip:port; -1 on failure.
inline int TcpListener(const char* ip, std::uint16_t port) {
  SocketHandle s = SockOpenTcp();
  if (s != kNoSocket &&
      (SockPrepareListener(s) != 0 || SockBind(s, Address(ip, port)) != 0 || SockListen(s, 4) != 0)) {
    SockClose(s);
    s = kNoSocket;
  }
  return s;
}

inline bool Readable(int s, int ms) { return SockWaitReadable(s, ms) == 1; }

// One datagram within ms; false on time-out.
inline bool Receive(int s, Bytes& data, Endpoint* from, int ms) {
  if (!Readable(s, ms)) return false;
  data.resize(2048);
  const int n = SockRecvFrom(s, data.data(), static_cast<int>(data.size()), from);
  if (n < 0) return false;
  data.resize(static_cast<std::size_t>(n));
  return true;
}

inline void SendTo(int s, const Bytes& data, const Endpoint& to) {
  SockSendTo(s, data.data(), static_cast<int>(data.size()), to);
}

// Closes a socket when the test ends, however it ends.
struct Closer {
  int fd;
  ~Closer() {
    if (fd >= 0) SockClose(fd);
  }
};

// Whether a datagram sent from a socket bound to 127.0.0.2 arrives from there.
// Wine binds a UDP socket given one address to the whole interface instead, so
// its datagrams leave from 127.0.0.1, and a sender other than the board cannot
// be played on the loopback; Linux and Windows keep the address.
inline bool LoopbackSendersDistinct() {
  Closer sender{Udp("127.0.0.2", 0)};
  Closer receiver{Udp("127.0.0.1", 0)};
  Endpoint to;
  if (sender.fd < 0 || receiver.fd < 0 || SockLocalEndpoint(receiver.fd, &to) != 0) return false;
  SendTo(sender.fd, {0x00}, to);
  Bytes datagram;
  Endpoint from;
  return Receive(receiver.fd, datagram, &from, 1000) && from.address == 0x7F000002;
}

}  // namespace raw
