#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "cli/platform/interrupt.h"

namespace {

constexpr int kExitBase = 128;  // a shell's status for a process ended by signal N is 128 + N
std::atomic<int> gInterrupt{0};  // only a signal handler and the run touch it

void OnSignal(int signal) {
  // A second Ctrl+C does not wait for the exchange in flight.
  if (signal == SIGINT && gInterrupt.load() != 0) ::_exit(kExitBase + SIGINT);
  gInterrupt.store(kExitBase + signal);
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

int InterruptStatus() { return gInterrupt.load(); }

void ClearInterrupt() { gInterrupt.store(0); }
