#pragma once

// The only place that touches the operating system's socket library. Everything
// above it works with these calls, so a Winsock build replaces socket_posix.cpp
// and nothing else. The tool's link, the simulated board, the tests'
// hand-played boards and the benchmarks all use it (the tovrin_os library): the
// board keeps its own frames and loader, and shares only the system calls with
// the tool.

#include <cstdint>
#include <string>

using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;

// An IPv4 endpoint in host byte order.
struct Endpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

// Socket error codes as the link reports them lie above this base: on POSIX the
// native error number plus the base; Winsock's own codes already lie there
// (WSAECONNREFUSED is 10061). Callers tell replies from failures by value alone,
// and a bare errno would collide with reply lengths (0..128) and with the time-out
// result 297.
constexpr int kSocketErrorBase = 10000;

int SockStartup();                 // 0, or an error code
int SockLastError();               // the last native error, as an error code above
int SockErrorFromNative(int nativeError);

SocketHandle SockOpenUdp();        // kNoSocket on failure
SocketHandle SockOpenTcp();        // kNoSocket on failure
int SockClose(SocketHandle s);     // 0, or -1 on failure

int SockBind(SocketHandle s, const Endpoint& local);        // 0 or -1
int SockLocalEndpoint(SocketHandle s, Endpoint* local);     // 0 or -1
// A TCP connect in two calls, so the caller can keep a window alive while it
// waits. SockConnectStart begins it: 1 in progress, 0 already connected, -1
// refused or failed. SockConnectWait waits up to `milliseconds` for it to end:
// 0 connected, 1 still in progress, -1 refused or failed (the last error says
// why). Once the connect has ended either way the socket is blocking again.
int SockConnectStart(SocketHandle s, const Endpoint& remote);
int SockConnectWait(SocketHandle s, int milliseconds);
int SockTimedOutError();  // the error code of a connect the caller gave up on
int SockRefusedError();   // the error code of a connect nobody listened to
int SockBadHandleError(); // the error code of a call on a handle that is no socket

// Counts of bytes moved, or -1 on failure. Receives never block: they are called
// after a readiness wait, and when that wait itself failed there may be nothing
// to take. "Nothing there" is -1 with SockWouldBlock() true.
int SockSend(SocketHandle s, const std::uint8_t* data, int length);
int SockSendTo(SocketHandle s, const std::uint8_t* data, int length, const Endpoint& to);
int SockRecv(SocketHandle s, std::uint8_t* data, int capacity);
int SockRecvFrom(SocketHandle s, std::uint8_t* data, int capacity, Endpoint* from);
bool SockWouldBlock();

// The socket's own address and port as the peer at `remote` sees them: for a
// socket bound to any address, the address the route to `remote` leaves from,
// found without sending anything. 0, or -1 when the system cannot say (a socket
// not bound yet).
int SockLocalEndpoint(SocketHandle s, const Endpoint& remote, Endpoint* local);

// 1 when the socket has something to read, 0 on time-out, -1 on failure.
int SockWaitReadable(SocketHandle s, int milliseconds);

// Dotted-quad text to a host-order address; false when the text is not one.
bool SockParseAddress(const char* dotted, std::uint32_t* address);
int SockBadAddressError();  // the error code for text that is not an address
std::string SockAddressText(std::uint32_t address);  // host order to dotted quad
// The system's words for an error code above, with the code.
std::string SockErrorText(int code);

// --- Serving: the simulated board and the boards tests play by hand ----------

// From now on sends and accepts on the socket never wait either: a send the
// system cannot take at once fails with SockWouldBlock() true.
int SockSetNonBlocking(SocketHandle s);  // 0 or -1
// A listener that binds its port again while connections of an earlier one
// linger, and that no second listener can take the port from.
int SockPrepareListener(SocketHandle s);  // 0 or -1
int SockListen(SocketHandle s, int backlog);  // 0 or -1
// A connection waiting on the listener, not inherited by child processes, with
// Nagle's delay off so that each reply leaves as its own segment; kNoSocket when
// none waits.
SocketHandle SockAccept(SocketHandle listener);

// A wait over several sockets that another thread can cut short: the wake-up is
// an eventfd on POSIX, a loopback datagram socket on Windows (whose waits watch
// sockets only). Not copyable; closes what it holds.
class SocketWaiter {
 public:
  SocketWaiter() = default;
  ~SocketWaiter() { Close(); }
  SocketWaiter(const SocketWaiter&) = delete;
  SocketWaiter& operator=(const SocketWaiter&) = delete;

  int Open();  // 0, or an error code
  void Close();
  void Wake();  // from any thread
  // Sockets of kNoSocket are not watched; ready[i] tells whether sockets[i] can
  // be read. 0 (a wake-up or the time passing included), or an error code.
  int Wait(const SocketHandle* sockets, int count, int milliseconds, bool* ready);

 private:
  SocketHandle wake_ = kNoSocket;
};
