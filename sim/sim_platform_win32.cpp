#include "sim/sim_platform.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

// mingw-w64 10's headers lack it; the value is the system's.
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace sim {

namespace {

constexpr int kListenBacklog = 4;  // one connection is served; a few may queue to replace it
constexpr int kMaxWatched = 8;
// When the console window is closed the system ends the process once the handler
// returns, and at the latest after 5 s: time for the board to write its flash.
constexpr DWORD kCloseGraceMs = 4000;
constexpr DWORD kLongestWaitMs = 24 * 60 * 60 * 1000;  // a wait is split below DWORD's range

// The board's own conversions: it shares no code with the tool.
std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return L"";
  const int size = static_cast<int>(utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return "";
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), n, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(n - 1));
  return utf8;
}

int EnsureStarted() {
  static const int started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return started;
}

// "text of the system's message (code)"; the number alone when there is no text.
std::string ErrorText(int code) {
  char text[256] = {};
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.')) --length;
  const std::string number = "error " + std::to_string(code);
  return length == 0 ? number : std::string(text, length) + " (" + number + ")";
}

SOCKET ToSocket(int s) { return static_cast<SOCKET>(static_cast<INT_PTR>(s)); }

// Windows keeps handle values within 32 bits (see sim_platform.h).
int FromSocket(SOCKET s) {
  if (s == INVALID_SOCKET) return -1;
  if (s > static_cast<SOCKET>(INT_MAX)) {
    ::closesocket(s);
    ::WSASetLastError(WSAEMFILE);
    return -1;
  }
  return static_cast<int>(s);
}

sockaddr_in ToSockaddr(const Peer& p) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(p.port);
  a.sin_addr.s_addr = htonl(p.address);
  return a;
}

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

int OpenBound(int type, int protocol, const std::string& address, std::uint16_t port, const char* what,
              std::string& error) {
  Peer local{0, port};
  if (!ParseIPv4(address, local.address)) {
    error = "not an IPv4 address: " + address;
    return -1;
  }
  const SOCKET s = ::WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET || !SetNonBlocking(s)) {
    error = std::string("cannot create a ") + what + " socket: " + ErrorText(::WSAGetLastError());
    if (s != INVALID_SOCKET) ::closesocket(s);
    return -1;
  }
  const BOOL on = TRUE;
  if (type == SOCK_STREAM) {
    // Windows lets a listener bind beside connections that linger after a close
    // anyway; SO_REUSEADDR would let a second board take over the port instead.
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  } else {
    // Otherwise a port-unreachable reply to one datagram (a tool that has gone)
    // makes the next receive fail with WSAECONNRESET.
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  }
  const sockaddr_in sa = ToSockaddr(local);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    error = std::string("cannot bind ") + what + " " + address + ":" + std::to_string(port) + ": " +
            ErrorText(::WSAGetLastError());
    ::closesocket(s);
    return -1;
  }
  const int fd = FromSocket(s);
  if (fd < 0) error = std::string("cannot use a ") + what + " socket: " + ErrorText(::WSAGetLastError());
  return fd;
}

// Set by the console handler; they live as long as the process, since the
// system's handler thread may still hold them while the program ends.
HANDLE gStopRequested = nullptr;
HANDLE gStopDone = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      ::SetEvent(gStopRequested);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      ::SetEvent(gStopRequested);
      ::WaitForSingleObject(gStopDone, kCloseGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool ParseIPv4(const std::string& text, std::uint32_t& address) {
  in_addr a{};
  if (EnsureStarted() != 0 || ::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  address = ntohl(a.s_addr);
  return true;
}

int OpenUdp(const std::string& address, std::uint16_t port, std::string& error) {
  if (const int started = EnsureStarted(); started != 0) {
    error = "cannot start Winsock: " + ErrorText(started);
    return -1;
  }
  return OpenBound(SOCK_DGRAM, IPPROTO_UDP, address, port, "UDP", error);
}

int OpenTcpListener(const std::string& address, std::uint16_t port, std::string& error) {
  if (const int started = EnsureStarted(); started != 0) {
    error = "cannot start Winsock: " + ErrorText(started);
    return -1;
  }
  int fd = OpenBound(SOCK_STREAM, IPPROTO_TCP, address, port, "TCP", error);
  if (fd >= 0 && ::listen(ToSocket(fd), kListenBacklog) != 0) {
    error = "cannot listen on TCP: " + ErrorText(::WSAGetLastError());
    CloseSocket(fd);
  }
  return fd;
}

int AcceptConnection(int listener) {
  const SOCKET s = ::accept(ToSocket(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  if (!SetNonBlocking(s)) {
    ::closesocket(s);
    return -1;
  }
  const BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return FromSocket(s);
}

void CloseSocket(int& socket) {
  if (socket >= 0) ::closesocket(ToSocket(socket));
  socket = -1;
}

long ReceiveDatagram(int socket, std::uint8_t* buffer, std::size_t capacity, Peer& from) {
  sockaddr_in sa{};
  int length = sizeof sa;
  const int size = static_cast<int>(std::min<std::size_t>(capacity, INT_MAX));
  int n = ::recvfrom(ToSocket(socket), reinterpret_cast<char*>(buffer), size, 0, reinterpret_cast<sockaddr*>(&sa),
                     &length);
  // A datagram longer than the buffer fills it and is cut, as on POSIX; Winsock
  // reports the cut as an error.
  if (n < 0 && ::WSAGetLastError() == WSAEMSGSIZE) n = size;
  if (n >= 0) from = Peer{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
  return n;
}

long ReceiveStream(int socket, std::uint8_t* buffer, std::size_t capacity) {
  const int size = static_cast<int>(std::min<std::size_t>(capacity, INT_MAX));
  return ::recv(ToSocket(socket), reinterpret_cast<char*>(buffer), size, 0);
}

bool WouldBlock() {
  const int error = ::WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

void SendDatagram(int socket, const std::uint8_t* data, std::size_t length, const Peer& to) {
  const sockaddr_in sa = ToSockaddr(to);
  ::sendto(ToSocket(socket), reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
           reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

void SendStream(int socket, const std::uint8_t* data, std::size_t length) {
  ::send(ToSocket(socket), reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
}

// Winsock waits on sockets only, and has no eventfd: Wake() sends a datagram to
// a socket of the waiter's own on the loopback, which the wait watches.
bool Waiter::Open(std::string& error) {
  Close();
  inbox_ = OpenUdp("127.0.0.1", 0, error);
  return inbox_ >= 0;
}

void Waiter::Close() { CloseSocket(inbox_); }

void Waiter::Wake() {
  sockaddr_in self{};
  int length = sizeof self;
  if (::getsockname(ToSocket(inbox_), reinterpret_cast<sockaddr*>(&self), &length) != 0) return;
  const char byte = 1;
  ::sendto(ToSocket(inbox_), &byte, 1, 0, reinterpret_cast<const sockaddr*>(&self), length);
}

bool Waiter::Wait(const int* sockets, int count, int milliseconds, bool* ready, std::string& error) {
  if (count >= kMaxWatched) {
    error = "too many sockets to wait for";
    return false;
  }
  WSAPOLLFD fds[kMaxWatched] = {};
  int at[kMaxWatched];
  ULONG watched = 0;
  fds[watched].fd = ToSocket(inbox_);
  fds[watched++].events = POLLRDNORM;
  for (int i = 0; i < count; ++i) {
    ready[i] = false;
    at[i] = -1;
    if (sockets[i] < 0) continue;
    at[i] = static_cast<int>(watched);
    fds[watched].fd = ToSocket(sockets[i]);
    fds[watched++].events = POLLRDNORM;
  }
  if (::WSAPoll(fds, watched, milliseconds) < 0) {
    error = "WSAPoll failed: " + ErrorText(::WSAGetLastError());
    return false;
  }
  if (fds[0].revents != 0) {
    char drain[16];
    while (::recv(fds[0].fd, drain, sizeof drain, 0) >= 0) {
    }
  }
  for (int i = 0; i < count; ++i) ready[i] = at[i] >= 0 && fds[at[i]].revents != 0;
  return true;
}

StopRequests::StopRequests() {
  if (gStopRequested == nullptr) gStopRequested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (gStopDone == nullptr) gStopDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::ResetEvent(gStopRequested);
  ::ResetEvent(gStopDone);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopRequests::~StopRequests() {
  ::SetEvent(gStopDone);
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

void StopRequests::WaitFor(int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    const auto wait = static_cast<DWORD>(std::min<long long>(left.count(), kLongestWaitMs));
    if (::WaitForSingleObject(gStopRequested, wait) == WAIT_OBJECT_0) return;
  }
}

std::FILE* OpenForWriting(const std::string& path) { return ::_wfopen(Wide(path).c_str(), L"wb"); }

void RemoveFile(const std::string& path) { ::DeleteFileW(Wide(path).c_str()); }

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

Utf8ConsoleOutput::Utf8ConsoleOutput() {
  DWORD mode = 0;
  const bool console = ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0 ||
                       ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  const UINT previous = ::GetConsoleOutputCP();
  if (console && previous != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) previousCodePage_ = previous;
}

Utf8ConsoleOutput::~Utf8ConsoleOutput() {
  std::fflush(stdout);
  std::fflush(stderr);
  if (previousCodePage_ != 0) ::SetConsoleOutputCP(previousCodePage_);
}

bool RenameOver(const std::string& temporary, const std::string& path) {
  // The C library's rename refuses to replace a file on Windows.
  if (::MoveFileExW(Wide(temporary).c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  const DWORD error = ::GetLastError();
  errno = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
          : error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ? ENOENT
                                                                          : EIO;
  return false;
}

}  // namespace sim
