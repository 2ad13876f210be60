#include "tests/support/private_network.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// Under Wine the sockets belong to wineserver, not to the test process, so the
// process cannot move itself anywhere: scripts/test-windows starts the whole
// Wine session inside a private network namespace and says so in this variable.
// The interfaces are checked as well, so that the tests also refuse to run on a
// real Windows machine, where the board's address may be a real board.

namespace {

constexpr char kMarker[] = "TOVRIN_PRIVATE_NET";
bool gInside = false;  // set once the session's namespace is checked

[[noreturn]] void Refuse(const char* what) {
  std::fprintf(stderr, "refusing to run tests: %s (run them through scripts/test-windows)\n", what);
  std::exit(70);
}

// The only addresses the namespace holds: loopback and the board's own.
bool Private(const sockaddr* address) {
  if (address->sa_family == AF_INET6) {
    return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
  }
  if (address->sa_family != AF_INET) return false;
  const std::uint32_t a = ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
  return (a >> 24) == 127 || a == 0xC0A8A764;  // 127.0.0.0/8, 192.168.167.100
}

}  // namespace

void EnterPrivateNetwork() {
  const char* marker = std::getenv(kMarker);
  if (marker == nullptr || std::strcmp(marker, "1") != 0) Refuse("TOVRIN_PRIVATE_NET=1 is not set");

  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = ::GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result == ERROR_NO_DATA) {
    gInside = true;
    return;
  }
  if (result != NO_ERROR) Refuse("cannot list the network interfaces");
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
      if (!Private(unicast->Address.lpSockaddr)) Refuse("an address other than loopback and the board's is visible");
    }
  }
  gInside = true;
}

bool InPrivateNetwork() { return gInside; }
