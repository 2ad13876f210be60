#pragma once

// The simulated board's sockets: bound, non-blocking, not inherited by child
// processes, with the reason in words when one cannot be had. The calls
// themselves are the operating system layer's (os/socket.h), the
// one place that touches the system's socket library; the board's frames and
// loader stay its own.

#include <cstddef>
#include <cstdint>
#include <string>

#include "os/socket.h"

namespace sim {

// An IPv4 address and port in host byte order.
using Peer = Endpoint;

bool ParseIPv4(const std::string& text, std::uint32_t& address);

// Each opener returns the socket, or -1 with a reason in error.
int OpenUdp(const std::string& address, std::uint16_t port, std::string& error);
int OpenTcpListener(const std::string& address, std::uint16_t port, std::string& error);

// An accepted connection, non-blocking, with Nagle's delay off so that each
// reply (or each half of a split one) leaves as its own segment; -1 when none
// was waiting.
int AcceptConnection(int listener);

void CloseSocket(int& socket);

// A datagram into buffer: its length (cut to capacity when longer), or -1 when
// none is waiting or the receive failed.
long ReceiveDatagram(int socket, std::uint8_t* buffer, std::size_t capacity, Peer& from);
// Stream bytes into buffer: their count, 0 when the peer closed, -1 when none
// are waiting (WouldBlock() true) or the connection broke.
long ReceiveStream(int socket, std::uint8_t* buffer, std::size_t capacity);
bool WouldBlock();
// Sends are best effort, as the board's own are: a lost reply is the tool's
// problem to notice.
void SendDatagram(int socket, const std::uint8_t* data, std::size_t length, const Peer& to);
void SendStream(int socket, const std::uint8_t* data, std::size_t length);

}  // namespace sim
