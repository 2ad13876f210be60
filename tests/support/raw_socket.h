#pragma once

// Plain sockets for tests that play the board by hand, byte by byte, where the
// simulated board cannot be made to misbehave in exactly the way a test needs.
// Every receive is bounded in time.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace raw {

using Bytes = std::vector<std::uint8_t>;

inline sockaddr_in Address(const char* ip, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, ip, &a.sin_addr);
  return a;
}

// A UDP socket bound to ip:port (port 0: any); -1 on failure.
inline int Udp(const char* ip, std::uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Address(ip, port);
  if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

// A listening TCP socket on ip:port; -1 on failure.
inline int TcpListener(const char* ip, std::uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Address(ip, port);
  if (s >= 0 && (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 4) != 0)) {
    ::close(s);
    return -1;
  }
  return s;
}

inline bool Readable(int s, int ms) {
  pollfd p{s, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1;
}

// One datagram within ms; false on time-out.
inline bool Receive(int s, Bytes& data, sockaddr_in* from, int ms) {
  if (!Readable(s, ms)) return false;
  data.resize(2048);
  socklen_t length = sizeof(sockaddr_in);
  const ssize_t n = ::recvfrom(s, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(from),
                               from ? &length : nullptr);
  if (n < 0) return false;
  data.resize(static_cast<size_t>(n));
  return true;
}

inline void SendTo(int s, const Bytes& data, const sockaddr_in& to) {
  ::sendto(s, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

inline std::uint16_t Port(const sockaddr_in& a) { return ntohs(a.sin_port); }

// Closes a socket when the test ends, however it ends.
struct Closer {
  int fd;
  ~Closer() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace raw
