#include "sim/sim_platform.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace sim {

namespace {

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
