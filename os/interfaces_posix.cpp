// Network interfaces on Linux: listed with getifaddrs, a socket tied to one
// with SO_BINDTODEVICE (unprivileged since Linux 5.7). Sockets tied to
// different devices may bind the same address and port, so every port's link
// keeps the loader's fixed local port 1234.

#include "os/interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

std::vector<NetInterface> SockListInterfaces(int* error) {
  std::vector<NetInterface> found;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    *error = SockLastError();
    return found;
  }
  // One entry per address and family: an interface shows once, with its first
  // IPv4 address.
  for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    NetInterface* known = nullptr;
    for (NetInterface& f : found) {
      if (f.name == i->ifa_name) known = &f;
    }
    if (known == nullptr) {
      found.push_back({i->ifa_name, ::if_nametoindex(i->ifa_name), (i->ifa_flags & IFF_UP) != 0, 0});
      known = &found.back();
    }
    if (known->address == 0 && i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET) {
      known->address = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    }
  }
  ::freeifaddrs(list);
  *error = 0;
  return found;
}

bool SockFindInterface(const std::string& name, NetInterface* found, int* error) {
  for (const NetInterface& i : SockListInterfaces(error)) {
    if (i.name == name) {
      *found = i;
      return true;
    }
  }
  return false;
}

int SockTieToInterface(SocketHandle s, const std::string& name) {
  if (name.empty()) return 0;
  if (name.size() >= IFNAMSIZ) {
    errno = ENODEV;
    return -1;
  }
  return ::setsockopt(s, SOL_SOCKET, SO_BINDTODEVICE, name.c_str(), static_cast<socklen_t>(name.size() + 1)) == 0
             ? 0
             : -1;
}

int SockBindOnInterface(SocketHandle s, const std::string&, std::uint16_t localPort) {
  return SockBind(s, {0, localPort});
}
