#include "os/socket.h"

#include "os/host.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <climits>
#include <cstdio>

// mingw-w64 10's headers lack it; the value is the system's.
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace {

// A SOCKET is a kernel handle, and Windows keeps handle values within 32 bits so
// that 32- and 64-bit processes can share them: the interface's int carries it,
// and INVALID_SOCKET (all ones) comes back as -1, which is kNoSocket.
SOCKET ToSocket(SocketHandle s) { return static_cast<SOCKET>(static_cast<INT_PTR>(s)); }

SocketHandle FromSocket(SOCKET s) {
  if (s == INVALID_SOCKET) return kNoSocket;
  if (s > static_cast<SOCKET>(INT_MAX)) {
    ::closesocket(s);
    ::WSASetLastError(WSAEMFILE);
    return kNoSocket;
  }
  return static_cast<SocketHandle>(s);
}

sockaddr_in ToSockaddr(const Endpoint& e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(e.port);
  sa.sin_addr.s_addr = htonl(e.address);
  return sa;
}

// Winsock must be started before its first call. The front ends start it through
// SockStartup and report a failure; anything that opens a socket without them
// (tests, a library user) gets it started here, once per process.
int EnsureStarted() {
  static const int started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return started;
}

// The handle is not inherited by programs the tool starts, as with SOCK_CLOEXEC.
SOCKET OpenSocket(int type, int protocol) {
  const int started = EnsureStarted();
  if (started != 0) {
    ::WSASetLastError(started);
    return INVALID_SOCKET;
  }
  return ::WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

bool SetNonBlocking(SOCKET s, bool on) {
  u_long mode = on ? 1 : 0;
  return ::ioctlsocket(s, FIONBIO, &mode) == 0;
}

timeval ToTimeval(int milliseconds) { return timeval{milliseconds / 1000, (milliseconds % 1000) * 1000}; }

// Winsock has no MSG_DONTWAIT: a receive that must not block asks first
// whether anything is there, and then takes it. Only one thread reads a
// socket, so what select saw is still there; and the socket keeps its mode,
// blocking for the tool's links, non-blocking for the simulated board's.
template <typename Receive>
int ReceiveNow(SOCKET s, Receive receive) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval now{0, 0};
  const int ready = ::select(0, &readable, nullptr, nullptr, &now);
  if (ready < 0) return -1;
  if (ready == 0) {
    ::WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  return receive();
}

}  // namespace

int SockStartup() { return EnsureStarted(); }

// Winsock's own codes (WSAECONNREFUSED is 10061) already lie above
// kSocketErrorBase, so they are reported as they are.
int SockErrorFromNative(int nativeError) { return nativeError; }
int SockLastError() { return SockErrorFromNative(::WSAGetLastError()); }

SocketHandle SockOpenUdp() {
  const SOCKET s = OpenSocket(SOCK_DGRAM, IPPROTO_UDP);
  if (s != INVALID_SOCKET) {
    // Otherwise a port-unreachable reply to one datagram makes a later receive
    // fail with WSAECONNRESET, where POSIX simply sees nothing arrive.
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  }
  return FromSocket(s);
}

SocketHandle SockOpenTcp() { return FromSocket(OpenSocket(SOCK_STREAM, IPPROTO_TCP)); }

int SockClose(SocketHandle s) { return ::closesocket(ToSocket(s)) == 0 ? 0 : -1; }

int SockBind(SocketHandle s, const Endpoint& local) {
  sockaddr_in sa = ToSockaddr(local);
  return ::bind(ToSocket(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : -1;
}

int SockLocalEndpoint(SocketHandle s, Endpoint* local) {
  sockaddr_in sa{};
  int length = sizeof sa;
  if (::getsockname(ToSocket(s), reinterpret_cast<sockaddr*>(&sa), &length) != 0) return -1;
  local->address = ntohl(sa.sin_addr.s_addr);
  local->port = ntohs(sa.sin_port);
  return 0;
}

namespace {

// Blocking again, keeping the error the connect left.
void EndConnect(SOCKET socket, int error) {
  SetNonBlocking(socket, false);
  ::WSASetLastError(error);
}

}  // namespace

int SockConnectStart(SocketHandle s, const Endpoint& remote) {
  const SOCKET socket = ToSocket(s);
  sockaddr_in sa = ToSockaddr(remote);
  if (!SetNonBlocking(socket, true)) return -1;
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
    EndConnect(socket, 0);
    return 0;
  }
  const int error = ::WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return 1;
  EndConnect(socket, error);
  return -1;
}

int SockConnectWait(SocketHandle s, int milliseconds) {
  const SOCKET socket = ToSocket(s);
  // select, not WSAPoll: before Windows 10 2004, WSAPoll never reports a
  // connect that failed, and the wait would always run out.
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket, &writable);
  FD_SET(socket, &failed);
  timeval wait = ToTimeval(milliseconds);
  const int ready = ::select(0, nullptr, &writable, &failed, &wait);
  if (ready == 0) return 1;  // the caller keeps count of the time
  int error = ::WSAGetLastError();
  if (ready > 0) {
    int length = sizeof error;
    error = 0;
    ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    if (error == 0 && FD_ISSET(socket, &failed)) error = WSAECONNREFUSED;
  }
  EndConnect(socket, error);
  return error == 0 ? 0 : -1;
}

int SockTimedOutError() { return SockErrorFromNative(WSAETIMEDOUT); }
int SockRefusedError() { return SockErrorFromNative(WSAECONNREFUSED); }
int SockBadHandleError() { return SockErrorFromNative(WSAENOTSOCK); }

int SockSend(SocketHandle s, const std::uint8_t* data, int length) {
  // Winsock raises no SIGPIPE: a dropped connection is an error code already.
  return ::send(ToSocket(s), reinterpret_cast<const char*>(data), length, 0);
}

int SockSendTo(SocketHandle s, const std::uint8_t* data, int length, const Endpoint& to) {
  sockaddr_in sa = ToSockaddr(to);
  return ::sendto(ToSocket(s), reinterpret_cast<const char*>(data), length, 0,
                  reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

int SockRecv(SocketHandle s, std::uint8_t* data, int capacity) {
  const SOCKET socket = ToSocket(s);
  return ReceiveNow(socket, [&] { return ::recv(socket, reinterpret_cast<char*>(data), capacity, 0); });
}

int SockRecvFrom(SocketHandle s, std::uint8_t* data, int capacity, Endpoint* from) {
  const SOCKET socket = ToSocket(s);
  sockaddr_in sa{};
  int length = sizeof sa;
  int n = ReceiveNow(socket, [&] {
    return ::recvfrom(socket, reinterpret_cast<char*>(data), capacity, 0, reinterpret_cast<sockaddr*>(&sa),
                      &length);
  });
  // A datagram longer than the buffer fills it and is cut, as POSIX does it;
  // Winsock reports the cut as an error.
  if (n < 0 && ::WSAGetLastError() == WSAEMSGSIZE) n = capacity;
  if (n >= 0 && from) {
    from->address = ntohl(sa.sin_addr.s_addr);
    from->port = ntohs(sa.sin_port);
  }
  return n;
}

bool SockWouldBlock() { return ::WSAGetLastError() == WSAEWOULDBLOCK; }

namespace {

bool OwnName(SOCKET s, Endpoint* local) {
  sockaddr_in sa{};
  int length = sizeof sa;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &length) != 0 || sa.sin_family != AF_INET) return false;
  local->address = ntohl(sa.sin_addr.s_addr);
  local->port = ntohs(sa.sin_port);
  return true;
}

}  // namespace

int SockLocalEndpoint(SocketHandle s, const Endpoint& remote, Endpoint* local) {
  Endpoint own;
  if (!OwnName(ToSocket(s), &own) || own.port == 0) return -1;
  if (own.address == 0) {
    // Connecting a datagram socket only picks the route; nothing is sent.
    const SOCKET scratch = OpenSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (scratch == INVALID_SOCKET) return -1;
    sockaddr_in sa = ToSockaddr(remote);
    Endpoint routed;
    const bool found = ::connect(scratch, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 &&
                       OwnName(scratch, &routed);
    ::closesocket(scratch);
    if (!found) return -1;
    own.address = routed.address;
  }
  *local = own;
  return 0;
}

int SockWaitReadable(SocketHandle s, int milliseconds) {
  if (s < 0) {
    ::WSASetLastError(WSAENOTSOCK);
    return -1;
  }
  const SOCKET socket = ToSocket(s);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval wait = ToTimeval(milliseconds);
  const int r = ::select(0, &readable, nullptr, nullptr, milliseconds < 0 ? nullptr : &wait);
  return r < 0 ? -1 : r;
}

bool SockParseAddress(const char* dotted, std::uint32_t* address) {
  in_addr a{};
  if (dotted == nullptr || EnsureStarted() != 0 || ::inet_pton(AF_INET, dotted, &a) != 1) return false;
  *address = ntohl(a.s_addr);
  return true;
}

int SockBadAddressError() { return SockErrorFromNative(WSAEINVAL); }

std::string SockAddressText(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                address & 0xFF);
  return text;
}

std::string SockErrorText(int code) {
  char text[256] = {};
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.')) --length;
  const std::string number = "error " + std::to_string(code);
  return length == 0 ? number : std::string(text, length) + " (" + number + ")";
}

int SockSetNonBlocking(SocketHandle s) { return SetNonBlocking(ToSocket(s), true) ? 0 : -1; }

int SockPrepareListener(SocketHandle s) {
  // Windows lets a listener bind beside connections that linger after a close
  // anyway; SO_REUSEADDR would let a second listener take the port over instead.
  const BOOL on = TRUE;
  return ::setsockopt(ToSocket(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on) == 0
             ? 0
             : -1;
}

int SockListen(SocketHandle s, int backlog) { return ::listen(ToSocket(s), backlog) == 0 ? 0 : -1; }

SocketHandle SockAccept(SocketHandle listener) {
  const SOCKET s = ::accept(ToSocket(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  // An accepted socket takes the listener's mode: the board's listener is
  // non-blocking, and so are its connections.
  const BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return FromSocket(s);
}

namespace {
constexpr int kMaxWaited = 8;  // a board waits for its UDP socket, its listener and its connection
}  // namespace

// Winsock waits on sockets only, and has no eventfd: Wake() sends a datagram to
// a socket of the waiter's own on the loopback, which the wait watches.
int SocketWaiter::Open() {
  Close();
  wake_ = SockOpenUdp();
  if (wake_ == kNoSocket) return SockLastError();
  if (SockBind(wake_, {INADDR_LOOPBACK, 0}) != 0 || SockSetNonBlocking(wake_) != 0) {
    const int error = SockLastError();
    Close();
    return error;
  }
  return 0;
}

void SocketWaiter::Close() {
  if (wake_ != kNoSocket) SockClose(wake_);
  wake_ = kNoSocket;
}

void SocketWaiter::Wake() {
  Endpoint self;
  if (SockLocalEndpoint(wake_, &self) != 0) return;
  const std::uint8_t byte = 1;
  SockSendTo(wake_, &byte, 1, self);
}

int SocketWaiter::Wait(const SocketHandle* sockets, int count, int milliseconds, bool* ready) {
  if (count >= kMaxWaited) return SockErrorFromNative(WSAEINVAL);
  WSAPOLLFD fds[kMaxWaited] = {};
  int at[kMaxWaited];
  ULONG watched = 0;
  fds[watched].fd = ToSocket(wake_);
  fds[watched++].events = POLLRDNORM;
  for (int i = 0; i < count; ++i) {
    ready[i] = false;
    at[i] = -1;
    if (sockets[i] == kNoSocket) continue;
    at[i] = static_cast<int>(watched);
    fds[watched].fd = ToSocket(sockets[i]);
    fds[watched++].events = POLLRDNORM;
  }
  if (::WSAPoll(fds, watched, milliseconds) < 0) return SockLastError();
  if (fds[0].revents != 0) {
    char drain[16];
    while (::recv(fds[0].fd, drain, sizeof drain, 0) >= 0) {
    }
  }
  for (int i = 0; i < count; ++i) ready[i] = at[i] >= 0 && fds[at[i]].revents != 0;
  return 0;
}
