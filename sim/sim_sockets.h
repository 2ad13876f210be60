#pragma once

// The board's sockets: bound, non-blocking, close-on-exec. Each opener returns
// the descriptor, or -1 with a reason in error.

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace sim {

bool ParseIPv4(const std::string& text, in_addr& out);

int OpenUdp(const std::string& address, std::uint16_t port, std::string& error);
int OpenTcpListener(const std::string& address, std::uint16_t port, std::string& error);

// An accepted connection, made non-blocking, with Nagle's delay off so that
// each reply (or each half of a split one) leaves as its own segment.
int AcceptConnection(int listener);

void CloseFd(int& fd);

}  // namespace sim
