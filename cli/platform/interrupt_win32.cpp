#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "cli/platform/interrupt.h"

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
