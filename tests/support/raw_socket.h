#pragma once

// Plain sockets for tests that play the board by hand, byte by byte, where the
// simulated board cannot be made to misbehave in exactly the way a test needs.
// Every receive is bounded in time. POSIX sockets, or Winsock in the Windows
// build; the handle is an int either way, as in the link's interface.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstdint>
#include <string>
#include <vector>

namespace raw {

using Bytes = std::vector<std::uint8_t>;

// The native error numbers the link turns into its error codes.
#ifdef _WIN32
constexpr int kRefused = WSAECONNREFUSED;
constexpr int kNotASocket = WSAENOTSOCK;
constexpr int kCloseOnExec = 0;  // Winsock handles are not inherited unless asked for
constexpr int kNoSignal = 0;     // Winsock raises no SIGPIPE
inline int CloseSocket(int s) { return ::closesocket(static_cast<SOCKET>(s)); }
inline int PollOne(pollfd& p, int ms) { return ::WSAPoll(&p, 1, ms); }
inline void SetReceiveTimeout(int s, int ms) {
  const DWORD wait = static_cast<DWORD>(ms);
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
}
#else
constexpr int kRefused = ECONNREFUSED;
constexpr int kNotASocket = EBADF;
constexpr int kCloseOnExec = SOCK_CLOEXEC;
constexpr int kNoSignal = MSG_NOSIGNAL;
inline int CloseSocket(int s) { return ::close(s); }
inline int PollOne(pollfd& p, int ms) { return ::poll(&p, 1, ms); }
inline void SetReceiveTimeout(int s, int ms) {
  const timeval wait{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}
#endif

inline sockaddr_in Address(const char* ip, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, ip, &a.sin_addr);
  return a;
}

// A UDP socket bound to ip:port (port 0: any); -1 on failure.
inline int Udp(const char* ip, std::uint16_t port) {
  const int s = static_cast<int>(::socket(AF_INET, SOCK_DGRAM | kCloseOnExec, 0));
  sockaddr_in a = Address(ip, port);
  if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    CloseSocket(s);
    return -1;
  }
  return s;
}

// A listening TCP socket on ip:port; -1 on failure.
inline int TcpListener(const char* ip, std::uint16_t port) {
  const int s = static_cast<int>(::socket(AF_INET, SOCK_STREAM | kCloseOnExec, 0));
  const int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in a = Address(ip, port);
  if (s >= 0 && (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 4) != 0)) {
    CloseSocket(s);
    return -1;
  }
  return s;
}

inline bool Readable(int s, int ms) {
  pollfd p{};
  p.fd = s;
  p.events = POLLIN;
  return PollOne(p, ms) == 1;
}

// One datagram within ms; false on time-out.
inline bool Receive(int s, Bytes& data, sockaddr_in* from, int ms) {
  if (!Readable(s, ms)) return false;
  data.resize(2048);
  socklen_t length = sizeof(sockaddr_in);
  const int n = static_cast<int>(::recvfrom(s, reinterpret_cast<char*>(data.data()), static_cast<int>(data.size()), 0,
                                            reinterpret_cast<sockaddr*>(from), from ? &length : nullptr));
  if (n < 0) return false;
  data.resize(static_cast<size_t>(n));
  return true;
}

inline void SendTo(int s, const Bytes& data, const sockaddr_in& to) {
  ::sendto(s, reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

inline std::uint16_t Port(const sockaddr_in& a) { return ntohs(a.sin_port); }

// Closes a socket when the test ends, however it ends.
struct Closer {
  int fd;
  ~Closer() {
    if (fd >= 0) CloseSocket(fd);
  }
};

// Whether a datagram sent from a socket bound to 127.0.0.2 arrives from there.
// Wine binds a UDP socket given one address to the whole interface instead, so
// its datagrams leave from 127.0.0.1, and a sender other than the board cannot
// be played on the loopback; Linux and Windows keep the address.
inline bool LoopbackSendersDistinct() {
  Closer sender{Udp("127.0.0.2", 0)};
  Closer receiver{Udp("127.0.0.1", 0)};
  sockaddr_in to{};
  socklen_t length = sizeof to;
  if (sender.fd < 0 || receiver.fd < 0 || ::getsockname(receiver.fd, reinterpret_cast<sockaddr*>(&to), &length) != 0) {
    return false;
  }
  SendTo(sender.fd, {0x00}, to);
  Bytes datagram;
  sockaddr_in from{};
  return Receive(receiver.fd, datagram, &from, 1000) && ntohl(from.sin_addr.s_addr) == 0x7F000002;
}

}  // namespace raw
