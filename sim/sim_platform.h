#pragma once

// Everything the simulated board asks of the operating system, one file per
// system: its sockets (bound, non-blocking, not inherited by child processes),
// the wait for any of them, the wake-up from another thread, the stop request
// (signals on POSIX, the console's Ctrl+C on Windows) and the flash file's
// replacement. The board shares no code with the tool, so it has this layer of
// its own. A socket is an int on both systems, -1 for none: a Winsock SOCKET is
// a kernel handle, whose value Windows keeps within 32 bits.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sim {

// An IPv4 address and port in host byte order.
struct Peer {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

bool ParseIPv4(const std::string& text, std::uint32_t& address);

// Each opener returns the socket, or -1 with a reason in error.
int OpenUdp(const std::string& address, std::uint16_t port, std::string& error);
int OpenTcpListener(const std::string& address, std::uint16_t port, std::string& error);

// An accepted connection, made non-blocking, with Nagle's delay off so that
// each reply (or each half of a split one) leaves as its own segment; -1 when
// none was waiting.
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

// The board thread's wait: for any of the sockets to become readable, for the
// time to pass, or for Wake() from another thread.
class Waiter {
 public:
  Waiter() = default;
  ~Waiter() { Close(); }
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;

  bool Open(std::string& error);
  void Close();
  void Wake();
  // Sockets of -1 are not watched. ready[i] tells whether sockets[i] can be
  // read. False with a reason in error when the wait itself failed.
  bool Wait(const int* sockets, int count, int milliseconds, bool* ready, std::string& error);

 private:
  int wake_ = -1;   // POSIX: an eventfd
  int inbox_ = -1;  // Windows: a loopback UDP socket that Wake() sends a byte to
};

// The stop requests varnel-sim obeys: SIGINT and SIGTERM on POSIX; Ctrl+C,
// Ctrl+Break and the closing of the console window on Windows. Made before the
// board's thread starts, so that the requests reach WaitFor and not a thread.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Until a stop request arrives or the seconds have passed.
  void WaitFor(int seconds);
};

// File names are UTF-8; Windows opens them through its wide calls, so a folder
// named in Cyrillic or CJK works as any other.
// Creates or empties a file for writing bytes: a stream, or null with errno set.
std::FILE* OpenForWriting(const std::string& path);
void RemoveFile(const std::string& path);
// Moves temporary over path, replacing the file there in one step; false with
// errno set.
bool RenameOver(const std::string& temporary, const std::string& path);

// The program's arguments as UTF-8: on POSIX as given; on Windows from the wide
// command line (the narrow argv has been through the ANSI code page).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// For its lifetime, a Windows console shows the program's UTF-8 text as such
// (its output code page, put back afterwards); elsewhere the bytes go out as
// written.
class Utf8ConsoleOutput {
 public:
  Utf8ConsoleOutput();
  ~Utf8ConsoleOutput();
  Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
  Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

 private:
  unsigned previousCodePage_ = 0;  // 0: left as it was
};

}  // namespace sim
