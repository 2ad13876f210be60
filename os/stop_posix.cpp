#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>

#include "os/stop.h"

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

namespace {

// The signals blocked by StopRequests, and the mask before; one instance at a time.
sigset_t gStopSignals;
sigset_t gPreviousMask;

}  // namespace

StopRequests::StopRequests() {
  sigemptyset(&gStopSignals);
  sigaddset(&gStopSignals, SIGINT);
  sigaddset(&gStopSignals, SIGTERM);
  // Threads started from now on inherit the mask, so the signals reach sigtimedwait.
  ::pthread_sigmask(SIG_BLOCK, &gStopSignals, &gPreviousMask);
}

StopRequests::~StopRequests() { ::pthread_sigmask(SIG_SETMASK, &gPreviousMask, nullptr); }

void StopRequests::WaitFor(int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return;
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(left);
    const auto rest = std::chrono::duration_cast<std::chrono::nanoseconds>(left - whole);
    const timespec wait{static_cast<std::time_t>(whole.count()), static_cast<long>(rest.count())};
    if (::sigtimedwait(&gStopSignals, nullptr, &wait) > 0) return;
    // Otherwise the wait timed out (the loop sees the deadline) or was interrupted.
  }
}
