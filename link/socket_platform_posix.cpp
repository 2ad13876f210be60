#include "link/socket_platform.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in ToSockaddr(const Endpoint& e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(e.port);
  sa.sin_addr.s_addr = htonl(e.address);
  return sa;
}

}  // namespace

int SockStartup() { return 0; }  // POSIX sockets need no start-up

int SockErrorFromNative(int nativeError) { return kSocketErrorBase + nativeError; }
int SockLastError() { return SockErrorFromNative(errno); }

SocketHandle SockOpenUdp() { return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP); }
SocketHandle SockOpenTcp() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP); }

int SockClose(SocketHandle s) { return ::close(s) == 0 ? 0 : -1; }

int SockBind(SocketHandle s, const Endpoint& local) {
  sockaddr_in sa = ToSockaddr(local);
  return ::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : -1;
}

namespace {

// Blocking again, keeping errno as the connect left it.
void SetBlocking(SocketHandle s) {
  const int savedErrno = errno;
  const int flags = ::fcntl(s, F_GETFL);
  if (flags >= 0) ::fcntl(s, F_SETFL, flags & ~O_NONBLOCK);
  errno = savedErrno;
}

}  // namespace

int SockConnectStart(SocketHandle s, const Endpoint& remote) {
  sockaddr_in sa = ToSockaddr(remote);
  const int flags = ::fcntl(s, F_GETFL);
  if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
  if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
    SetBlocking(s);
    return 0;
  }
  if (errno == EINPROGRESS) return 1;
  SetBlocking(s);
  return -1;
}

int SockConnectWait(SocketHandle s, int milliseconds) {
  pollfd p{s, POLLOUT, 0};
  const int ready = ::poll(&p, 1, milliseconds);
  if (ready == 0 || (ready < 0 && errno == EINTR)) return 1;  // the caller keeps count of the time
  if (ready > 0) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    errno = error;
  }
  SetBlocking(s);
  return ready > 0 && errno == 0 ? 0 : -1;
}

int SockTimedOutError() { return SockErrorFromNative(ETIMEDOUT); }

int SockSend(SocketHandle s, const std::uint8_t* data, int length) {
  // MSG_NOSIGNAL: a board that dropped the connection must give an error code,
  // not kill the tool with SIGPIPE.
  return static_cast<int>(::send(s, data, static_cast<size_t>(length), MSG_NOSIGNAL));
}

int SockSendTo(SocketHandle s, const std::uint8_t* data, int length, const Endpoint& to) {
  sockaddr_in sa = ToSockaddr(to);
  return static_cast<int>(::sendto(s, data, static_cast<size_t>(length), 0,
                                   reinterpret_cast<const sockaddr*>(&sa), sizeof sa));
}

int SockRecv(SocketHandle s, std::uint8_t* data, int capacity) {
  return static_cast<int>(::recv(s, data, static_cast<size_t>(capacity), MSG_DONTWAIT));
}

int SockRecvFrom(SocketHandle s, std::uint8_t* data, int capacity, Endpoint* from) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  ssize_t n = ::recvfrom(s, data, static_cast<size_t>(capacity), MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&sa), &length);
  if (n >= 0 && from) {
    from->address = ntohl(sa.sin_addr.s_addr);
    from->port = ntohs(sa.sin_port);
  }
  return static_cast<int>(n);
}

bool SockWouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

namespace {

bool OwnName(int s, Endpoint* local) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &length) != 0 || sa.sin_family != AF_INET) return false;
  local->address = ntohl(sa.sin_addr.s_addr);
  local->port = ntohs(sa.sin_port);
  return true;
}

}  // namespace

int SockLocalEndpoint(SocketHandle s, const Endpoint& remote, Endpoint* local) {
  Endpoint own;
  if (!OwnName(s, &own) || own.port == 0) return -1;
  if (own.address == 0) {
    // Connecting a datagram socket only picks the route; nothing is sent.
    const int scratch = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (scratch < 0) return -1;
    sockaddr_in sa = ToSockaddr(remote);
    Endpoint routed;
    const bool found = ::connect(scratch, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 &&
                       OwnName(scratch, &routed);
    ::close(scratch);
    if (!found) return -1;
    own.address = routed.address;
  }
  *local = own;
  return 0;
}

int SockWaitReadable(SocketHandle s, int milliseconds) {
  if (s < 0) {
    errno = EBADF;
    return -1;
  }
  // A signal (Ctrl+C asking the run to stop) does not cut the wait short: the
  // run stops at the next exchange boundary, not with a failed exchange.
  const std::int64_t until = MonotonicMs() + milliseconds;
  pollfd p{s, POLLIN, 0};
  int r;
  while ((r = ::poll(&p, 1, milliseconds)) < 0 && errno == EINTR) {
    milliseconds = static_cast<int>(std::max<std::int64_t>(0, until - MonotonicMs()));
  }
  if (r < 0) return -1;
  if (r > 0 && (p.revents & POLLNVAL)) {
    errno = EBADF;
    return -1;
  }
  return r;
}

bool SockParseAddress(const char* dotted, std::uint32_t* address) {
  in_addr a{};
  if (dotted == nullptr || ::inet_pton(AF_INET, dotted, &a) != 1) return false;
  *address = ntohl(a.s_addr);
  return true;
}

int SockBadAddressError() { return SockErrorFromNative(EINVAL); }

void SleepMs(int milliseconds) {
  timespec left{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::int64_t MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::int64_t MonotonicUs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

std::int64_t WallClockUs() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}
