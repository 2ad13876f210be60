#include "sim/sim_platform.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace sim {

namespace {

// When the console window is closed the system ends the process once the handler
// returns, and at the latest after 5 s: time for the board to write its flash.
constexpr DWORD kCloseGraceMs = 4000;
constexpr DWORD kLongestWaitMs = 24 * 60 * 60 * 1000;  // a wait is split below DWORD's range

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

bool RenameOver(const std::string& temporary, const std::string& path) {
  // The C library's rename refuses to replace a file on Windows.
  if (::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD error = ::GetLastError();
  errno = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
          : error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ? ENOENT
                                                                          : EIO;
  return false;
}

}  // namespace sim
