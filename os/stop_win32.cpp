#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>

#include "os/stop.h"

// The console's Ctrl+C, Ctrl+Break and close reach a console control handler,
// on a thread of its own; they get the same exit statuses as the signals on
// Linux, so scripts see one set of codes.

namespace {

constexpr int kInterruptedStatus = 130;  // as a shell reports SIGINT
constexpr int kTerminatedStatus = 143;   // as a shell reports SIGTERM
std::atomic<int> gInterrupt{0};

BOOL WINAPI OnControl(DWORD event) {
  const bool ctrlC = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  // A second Ctrl+C does not wait for the exchange in flight.
  if (ctrlC && gInterrupt.load() != 0) std::_Exit(kInterruptedStatus);
  gInterrupt.store(ctrlC ? kInterruptedStatus : kTerminatedStatus);
  return TRUE;
}

}  // namespace

void InstallInterruptHandlers() { SetConsoleCtrlHandler(OnControl, TRUE); }

int InterruptStatus() { return gInterrupt.load(); }

void ClearInterrupt() { gInterrupt.store(0); }

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
