#include "sim/sim_platform.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace sim {

namespace {

constexpr int kListenBacklog = 4;  // one connection is served; a few may queue to replace it
constexpr int kMaxWatched = 8;

sockaddr_in ToSockaddr(const Peer& p) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(p.port);
  a.sin_addr.s_addr = htonl(p.address);
  return a;
}

int OpenBound(int type, const std::string& address, std::uint16_t port, const char* what,
              std::string& error) {
  Peer local{0, port};
  if (!ParseIPv4(address, local.address)) {
    error = "not an IPv4 address: " + address;
    return -1;
  }
  const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("cannot create a ") + what + " socket: " + std::strerror(errno);
    return -1;
  }
  const int on = 1;
  if (type == SOCK_STREAM) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in sa = ToSockaddr(local);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    error = std::string("cannot bind ") + what + " " + address + ":" + std::to_string(port) +
            ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

// The signals blocked by StopRequests, and the mask before; one instance at a time.
sigset_t gStopSignals;
sigset_t gPreviousMask;

}  // namespace

bool ParseIPv4(const std::string& text, std::uint32_t& address) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  address = ntohl(a.s_addr);
  return true;
}

int OpenUdp(const std::string& address, std::uint16_t port, std::string& error) {
  return OpenBound(SOCK_DGRAM, address, port, "UDP", error);
}

int OpenTcpListener(const std::string& address, std::uint16_t port, std::string& error) {
  int fd = OpenBound(SOCK_STREAM, address, port, "TCP", error);
  if (fd >= 0 && ::listen(fd, kListenBacklog) != 0) {
    error = std::string("cannot listen on TCP: ") + std::strerror(errno);
    CloseSocket(fd);
  }
  return fd;
}

int AcceptConnection(int listener) {
  const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return -1;
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

void CloseSocket(int& socket) {
  if (socket >= 0) ::close(socket);
  socket = -1;
}

long ReceiveDatagram(int socket, std::uint8_t* buffer, std::size_t capacity, Peer& from) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  const ssize_t n = ::recvfrom(socket, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&sa), &length);
  if (n >= 0) from = Peer{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
  return static_cast<long>(n);
}

long ReceiveStream(int socket, std::uint8_t* buffer, std::size_t capacity) {
  return static_cast<long>(::recv(socket, buffer, capacity, 0));
}

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

void SendDatagram(int socket, const std::uint8_t* data, std::size_t length, const Peer& to) {
  const sockaddr_in sa = ToSockaddr(to);
  ::sendto(socket, data, length, 0, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

void SendStream(int socket, const std::uint8_t* data, std::size_t length) {
  // MSG_NOSIGNAL: a tool that went away must not kill the board with SIGPIPE.
  ::send(socket, data, length, MSG_NOSIGNAL);
}

bool Waiter::Open(std::string& error) {
  Close();
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) error = std::string("no eventfd: ") + std::strerror(errno);
  return wake_ >= 0;
}

void Waiter::Close() {
  if (wake_ >= 0) ::close(wake_);
  wake_ = -1;
}

void Waiter::Wake() {
  const std::uint64_t one = 1;
  if (::write(wake_, &one, sizeof one) < 0) {
    // The eventfd counter cannot overflow here; the board's stop flag alone still
    // ends its loop at the next wake-up.
  }
}

bool Waiter::Wait(const int* sockets, int count, int milliseconds, bool* ready, std::string& error) {
  if (count >= kMaxWatched) {
    error = "too many sockets to wait for";
    return false;
  }
  pollfd fds[kMaxWatched];
  int at[kMaxWatched];
  nfds_t watched = 0;
  fds[watched++] = pollfd{wake_, POLLIN, 0};
  for (int i = 0; i < count; ++i) {
    ready[i] = false;
    at[i] = -1;
    if (sockets[i] < 0) continue;
    at[i] = static_cast<int>(watched);
    fds[watched++] = pollfd{sockets[i], POLLIN, 0};
  }
  if (::poll(fds, watched, milliseconds) < 0) {
    if (errno == EINTR) return true;
    error = std::string("poll failed: ") + std::strerror(errno);
    return false;
  }
  for (int i = 0; i < count; ++i) ready[i] = at[i] >= 0 && fds[at[i]].revents != 0;
  return true;
}

StopRequests::StopRequests() {
  sigemptyset(&gStopSignals);
  sigaddset(&gStopSignals, SIGINT);
  sigaddset(&gStopSignals, SIGTERM);
  // Threads started from now on inherit the mask, so the signals reach sigtimedwait.
  ::pthread_sigmask(SIG_BLOCK, &gStopSignals, &gPreviousMask);
}

StopRequests::~StopRequests() { ::pthread_sigmask(SIG_SETMASK, &gPreviousMask, nullptr); }

void StopRequests::WaitFor(int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return;
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(left);
    const auto rest = std::chrono::duration_cast<std::chrono::nanoseconds>(left - whole);
    const timespec wait{static_cast<std::time_t>(whole.count()), static_cast<long>(rest.count())};
    if (::sigtimedwait(&gStopSignals, nullptr, &wait) > 0) return;
    // Otherwise the wait timed out (the loop sees the deadline) or was interrupted.
  }
}

std::FILE* OpenForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

void RemoveFile(const std::string& path) { std::remove(path.c_str()); }

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

Utf8ConsoleOutput::Utf8ConsoleOutput() = default;
Utf8ConsoleOutput::~Utf8ConsoleOutput() = default;

bool RenameOver(const std::string& temporary, const std::string& path) {
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace sim
