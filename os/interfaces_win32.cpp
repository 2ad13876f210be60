// Network adapters on Windows: listed with GetAdaptersAddresses and named as
// the network settings show them (the friendly name); the adapter's index, as
// `route print` and `netsh interface ipv4 show interfaces` give it, names it
// too. A socket is tied to one with IP_UNICAST_IF, which picks the adapter its
// packets leave by, and bound to the adapter's own address, so that only what
// arrives there is taken.

#include "os/interfaces.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <vector>

#include "os/system_text.h"

// mingw-w64's headers may lack it; the value is the system's.
#ifndef IP_UNICAST_IF
#define IP_UNICAST_IF 31
#endif

namespace {

constexpr ULONG kFirstBufferBytes = 16 * 1024;  // as the system's documentation advises
constexpr int kListTries = 3;                   // the list may grow between two calls

// The adapter's names may be missing.
std::string Utf8(const wchar_t* wide) { return wide == nullptr ? std::string() : Utf8FromWide(wide); }

}  // namespace

std::vector<NetInterface> SockListInterfaces(int* error) {
  std::vector<NetInterface> found;
  std::vector<unsigned char> buffer(kFirstBufferBytes);
  ULONG size = kFirstBufferBytes;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  for (int tries = 0; tries < kListTries && result == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.resize(size);
    result = ::GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()),
                                    &size);
  }
  if (result == ERROR_NO_DATA) {
    *error = 0;
    return found;
  }
  if (result != NO_ERROR) {
    *error = SockErrorFromNative(static_cast<int>(result));
    return found;
  }
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr; a = a->Next) {
    NetInterface i;
    i.name = Utf8(a->FriendlyName);
    i.index = a->IfIndex;
    i.up = a->OperStatus == IfOperStatusUp;
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (sa != nullptr && sa->sa_family == AF_INET) {
        i.address = ntohl(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr);
        break;
      }
    }
    found.push_back(i);
  }
  *error = 0;
  return found;
}

bool SockFindInterface(const std::string& name, NetInterface* found, int* error) {
  for (const NetInterface& i : SockListInterfaces(error)) {
    if (i.name == name || std::to_string(i.index) == name) {
      *found = i;
      return true;
    }
  }
  return false;
}

int SockTieToInterface(SocketHandle s, const std::string& name) {
  if (name.empty()) return 0;
  NetInterface adapter;
  int error = 0;
  if (!SockFindInterface(name, &adapter, &error)) {
    ::WSASetLastError(error != 0 ? error : WSAEADDRNOTAVAIL);
    return -1;
  }
  // The index in network byte order, as IP_UNICAST_IF takes it for IPv4.
  const DWORD index = htonl(adapter.index);
  return ::setsockopt(static_cast<SOCKET>(static_cast<INT_PTR>(s)), IPPROTO_IP, IP_UNICAST_IF,
                      reinterpret_cast<const char*>(&index), sizeof index) == 0
             ? 0
             : -1;
}

int SockBindOnInterface(SocketHandle s, const std::string& name, std::uint16_t localPort) {
  if (name.empty()) return SockBind(s, {0, localPort});
  NetInterface adapter;
  int error = 0;
  if (!SockFindInterface(name, &adapter, &error) || adapter.address == 0) {
    ::WSASetLastError(error != 0 ? error : WSAEADDRNOTAVAIL);
    return -1;
  }
  return SockBind(s, {adapter.address, localPort});
}
