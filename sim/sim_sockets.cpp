#include "sim/sim_sockets.h"

#include <algorithm>
#include <climits>

namespace sim {

namespace {

constexpr int kListenBacklog = 4;  // one connection is served; a few may queue to replace it

// The socket library has to be started before the first socket on some systems.
bool Started(std::string& error) {
  const int started = SockStartup();
  if (started != 0) error = "cannot start the socket library: " + SockErrorText(started);
  return started == 0;
}

int Failed(SocketHandle& s, std::string& error, const std::string& what) {
  error = what + ": " + SockErrorText(SockLastError());
  if (s != kNoSocket) SockClose(s);
  s = kNoSocket;
  return -1;
}

int OpenBound(bool udp, const std::string& address, std::uint16_t port, std::string& error) {
  const char* what = udp ? "UDP" : "TCP";
  Peer local{0, port};
  if (!ParseIPv4(address, local.address)) {
    error = "not an IPv4 address: " + address;
    return -1;
  }
  if (!Started(error)) return -1;
  SocketHandle s = udp ? SockOpenUdp() : SockOpenTcp();
  if (s == kNoSocket || SockSetNonBlocking(s) != 0) return Failed(s, error, std::string("cannot create a ") + what + " socket");
  if (!udp) SockPrepareListener(s);
  if (SockBind(s, local) != 0) {
    return Failed(s, error, std::string("cannot bind ") + what + " " + address + ":" + std::to_string(port));
  }
  return s;
}

int Length(std::size_t length) { return static_cast<int>(std::min<std::size_t>(length, INT_MAX)); }

}  // namespace

bool ParseIPv4(const std::string& text, std::uint32_t& address) { return SockParseAddress(text.c_str(), &address); }

int OpenUdp(const std::string& address, std::uint16_t port, std::string& error) {
  return OpenBound(true, address, port, error);
}

int OpenTcpListener(const std::string& address, std::uint16_t port, std::string& error) {
  SocketHandle s = OpenBound(false, address, port, error);
  if (s != kNoSocket && SockListen(s, kListenBacklog) != 0) return Failed(s, error, "cannot listen on TCP");
  return s;
}

int AcceptConnection(int listener) {
  SocketHandle s = SockAccept(listener);
  if (s != kNoSocket && SockSetNonBlocking(s) != 0) {
    SockClose(s);
    return -1;
  }
  return s;
}

void CloseSocket(int& socket) {
  if (socket != kNoSocket) SockClose(socket);
  socket = kNoSocket;
}

long ReceiveDatagram(int socket, std::uint8_t* buffer, std::size_t capacity, Peer& from) {
  return SockRecvFrom(socket, buffer, Length(capacity), &from);
}

long ReceiveStream(int socket, std::uint8_t* buffer, std::size_t capacity) {
  return SockRecv(socket, buffer, Length(capacity));
}

bool WouldBlock() { return SockWouldBlock(); }

void SendDatagram(int socket, const std::uint8_t* data, std::size_t length, const Peer& to) {
  SockSendTo(socket, data, Length(length), to);
}

void SendStream(int socket, const std::uint8_t* data, std::size_t length) { SockSend(socket, data, Length(length)); }

}  // namespace sim
