#include "os/socket.h"

#include "os/host.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
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

int SockLocalEndpoint(SocketHandle s, Endpoint* local) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &length) != 0) return -1;
  local->address = ntohl(sa.sin_addr.s_addr);
  local->port = ntohs(sa.sin_port);
  return 0;
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
int SockRefusedError() { return SockErrorFromNative(ECONNREFUSED); }
int SockBadHandleError() { return SockErrorFromNative(EBADF); }

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

std::string SockAddressText(std::uint32_t address) {
  in_addr a{};
  a.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

std::string SockErrorText(int code) {
  const int native = code - kSocketErrorBase;
  return std::string(std::strerror(native)) + " (error " + std::to_string(code) + ")";
}

int SockSetNonBlocking(SocketHandle s) {
  const int flags = ::fcntl(s, F_GETFL);
  return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : -1;
}

int SockPrepareListener(SocketHandle s) {
  const int on = 1;
  return ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : -1;
}

int SockListen(SocketHandle s, int backlog) { return ::listen(s, backlog) == 0 ? 0 : -1; }

SocketHandle SockAccept(SocketHandle listener) {
  const int s = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (s < 0) return kNoSocket;
  const int on = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return s;
}

namespace {
constexpr int kMaxWaited = 8;  // a board waits for its UDP socket, its listener and its connection
}  // namespace

int SocketWaiter::Open() {
  Close();
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return wake_ >= 0 ? 0 : SockLastError();
}

void SocketWaiter::Close() {
  if (wake_ >= 0) ::close(wake_);
  wake_ = kNoSocket;
}

void SocketWaiter::Wake() {
  const std::uint64_t one = 1;
  if (::write(wake_, &one, sizeof one) < 0) {
    // The counter cannot overflow here; whoever woke the waiter also set what
    // the waiting thread looks at after its next wake-up.
  }
}

int SocketWaiter::Wait(const SocketHandle* sockets, int count, int milliseconds, bool* ready) {
  if (count >= kMaxWaited) return SockErrorFromNative(EINVAL);
  pollfd fds[kMaxWaited];
  int at[kMaxWaited];
  nfds_t watched = 0;
  fds[watched++] = pollfd{wake_, POLLIN, 0};
  for (int i = 0; i < count; ++i) {
    ready[i] = false;
    at[i] = -1;
    if (sockets[i] == kNoSocket) continue;
    at[i] = static_cast<int>(watched);
    fds[watched++] = pollfd{sockets[i], POLLIN, 0};
  }
  if (::poll(fds, watched, milliseconds) < 0) return errno == EINTR ? 0 : SockLastError();
  if (fds[0].revents != 0) {
    std::uint64_t wakes = 0;
    if (::read(wake_, &wakes, sizeof wakes) < 0) {
      // Drained by an earlier read already.
    }
  }
  for (int i = 0; i < count; ++i) ready[i] = at[i] >= 0 && fds[at[i]].revents != 0;
  return 0;
}
