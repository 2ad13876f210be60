#pragma once

// Network interfaces: one board per port on a station with several. The
// system's list of them, and the tie of a socket to one.

#include <cstdint>
#include <string>
#include <vector>

#include "os/socket.h"

// A network interface as the system names it: Linux eth1 or eth0.101; on
// Windows the adapter's name as the network settings show it.
struct NetInterface {
  std::string name;
  unsigned index = 0;
  bool up = false;
  std::uint32_t address = 0;  // its first IPv4 address, host order; 0: none
};

// The system's interfaces; empty with *error set when they cannot be listed.
std::vector<NetInterface> SockListInterfaces(int* error);

// The interface `name` stands for (on Windows its index as digits names it
// too); false when there is none, with *error set when the list failed.
bool SockFindInterface(const std::string& name, NetInterface* found, int* error);

// Ties every packet the socket sends to one interface, before any bind, connect
// or send, so that a station with one board per port reaches the board on that
// port though every board has the same address. Linux: SO_BINDTODEVICE, which
// also confines what the socket receives to that interface. Windows:
// IP_UNICAST_IF. An empty name ties nothing. 0, or -1 (no such interface).
int SockTieToInterface(SocketHandle s, const std::string& name);
// Binds the socket to localPort (0: any) where the interface receives: on
// Linux every address, since the tie already confines the socket (and sockets
// tied to different interfaces may bind the same port); on Windows the
// adapter's own address. An empty name binds every address. 0 or -1.
int SockBindOnInterface(SocketHandle s, const std::string& name, std::uint16_t localPort);
