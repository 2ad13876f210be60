#include "sim/sim_sockets.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

namespace {

constexpr int kListenBacklog = 4;  // one connection is served; a few may queue to replace it

int OpenBound(int type, const std::string& address, std::uint16_t port, const char* what,
              std::string& error) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (!ParseIPv4(address, local.sin_addr)) {
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
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    error = std::string("cannot bind ") + what + " " + address + ":" + std::to_string(port) +
            ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool ParseIPv4(const std::string& text, in_addr& out) {
  return ::inet_pton(AF_INET, text.c_str(), &out) == 1;
}

int OpenUdp(const std::string& address, std::uint16_t port, std::string& error) {
  return OpenBound(SOCK_DGRAM, address, port, "UDP", error);
}

int OpenTcpListener(const std::string& address, std::uint16_t port, std::string& error) {
  int fd = OpenBound(SOCK_STREAM, address, port, "TCP", error);
  if (fd >= 0 && ::listen(fd, kListenBacklog) != 0) {
    error = std::string("cannot listen on TCP: ") + std::strerror(errno);
    CloseFd(fd);
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

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace sim
