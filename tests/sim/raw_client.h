#pragma once

// A client for the simulated board written straight on the system's sockets,
// with frames built by hand here rather than by the tool's code, so that a test
// of the board does not lean on what it is meant to check. Only the socket calls
// are the shared platform's; every receive and connect is bounded.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "os/socket.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

constexpr int kReplyWaitMs = 1000;   // for a reply that should come
constexpr int kSilenceWaitMs = 200;  // for one that should not
constexpr int kConnectSliceMs = 50;

inline void Put32(Bytes& b, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}
inline std::uint32_t At32(const Bytes& b, std::size_t i) {
  return std::uint32_t{b[i]} << 24 | std::uint32_t{b[i + 1]} << 16 | std::uint32_t{b[i + 2]} << 8 | b[i + 3];
}
// Sum of the big-endian words in b[from, to), modulo 2^32.
inline std::uint32_t SumWords(const Bytes& b, std::size_t from, std::size_t to) {
  std::uint32_t sum = 0;
  for (std::size_t i = from; i + 4 <= to; i += 4) sum += At32(b, i);
  return sum;
}

// TCP frames; UdpFrame puts the sequence byte in front.
inline Bytes ReadFrame(std::uint32_t address, std::uint8_t count = 4) {
  Bytes b = {0x66, 0x75, count};
  Put32(b, address);
  return b;
}
inline Bytes EraseFrame() { return {0x66, 0x65}; }
inline Bytes LockFrame() { return {0x66, 0x6C}; }
inline Bytes ProgramFrame(std::uint32_t address, const Bytes& data64, std::uint32_t checksumError = 0) {
  Bytes b = {0x66, 0x70, 16};
  Put32(b, address);
  b.insert(b.end(), data64.begin(), data64.end());
  Put32(b, address + SumWords(b, 7, b.size()) + checksumError);
  return b;
}
inline Bytes UdpFrame(std::uint8_t sequence, Bytes frame) {
  frame.insert(frame.begin(), sequence);
  return frame;
}
inline Bytes Pattern64(std::uint8_t seed) {
  Bytes b(64);
  for (int i = 0; i < 64; ++i) b[i] = static_cast<std::uint8_t>(seed * 7 + i);
  return b;
}

// One socket towards the board's default ports on 127.0.0.1.
class Client {
 public:
  explicit Client(bool udp)
      : fd_(udp ? SockOpenUdp() : SockOpenTcp()), board_{0x7F000001, static_cast<std::uint16_t>(udp ? 1235 : 1234)} {}
  ~Client() {
    if (fd_ != kNoSocket) SockClose(fd_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

 protected:
  // What arrived within ms: its length, 0 when the peer closed, -1 when nothing came.
  long Receive(std::uint8_t* buffer, std::size_t size, int ms, Endpoint* from = nullptr) {
    if (SockWaitReadable(fd_, ms) != 1) return -1;
    const int capacity = static_cast<int>(size);
    return from != nullptr ? SockRecvFrom(fd_, buffer, capacity, from) : SockRecv(fd_, buffer, capacity);
  }
  SocketHandle fd_;
  Endpoint board_;
};

class Udp : public Client {
 public:
  Udp() : Client(true) {}
  void Send(const Bytes& d) { SockSendTo(fd_, d.data(), static_cast<int>(d.size()), board_); }
  struct Datagram {
    Bytes bytes;
    std::string from;  // source address, dotted
  };
  std::optional<Datagram> Receive(int ms = kReplyWaitMs) {
    std::uint8_t buffer[256];
    Endpoint from;
    const long n = Client::Receive(buffer, sizeof buffer, ms, &from);
    if (n < 0) return std::nullopt;
    return Datagram{Bytes(buffer, buffer + n), SockAddressText(from.address)};
  }
  // The reply's bytes, or empty when none came.
  Bytes Exchange(const Bytes& datagram) {
    Send(datagram);
    auto reply = Receive();
    return reply ? reply->bytes : Bytes{};
  }
};

class Tcp : public Client {
 public:
  Tcp() : Client(false) {
    int state = SockConnectStart(fd_, board_);
    for (int tries = 0; state == 1 && tries < kReplyWaitMs / kConnectSliceMs; ++tries) {
      state = SockConnectWait(fd_, kConnectSliceMs);
    }
    connected_ = state == 0;
  }
  bool Connected() const { return connected_; }
  void Send(const Bytes& bytes) { SockSend(fd_, bytes.data(), static_cast<int>(bytes.size())); }
  // One receive, as the tool does it; empty on time-out, error or end of stream.
  Bytes ReceiveOnce(int ms = kReplyWaitMs) {
    std::uint8_t buffer[256];
    const long n = Client::Receive(buffer, sizeof buffer, ms);
    return n > 0 ? Bytes(buffer, buffer + n) : Bytes{};
  }
  // Until `length` bytes came, a wait ran out or the peer closed.
  Bytes Receive(std::size_t length) {
    Bytes all;
    for (Bytes part; all.size() < length && !(part = ReceiveOnce()).empty();) {
      all.insert(all.end(), part.begin(), part.end());
    }
    return all;
  }
  bool ClosedByPeer() {
    std::uint8_t byte;
    return Client::Receive(&byte, 1, kReplyWaitMs) == 0;
  }

 private:
  bool connected_ = false;
};

}  // namespace simtest
