#include "sim/sim_platform.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace sim {

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

std::FILE* OpenForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

void RemoveFile(const std::string& path) { std::remove(path.c_str()); }

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

Utf8ConsoleOutput::Utf8ConsoleOutput() = default;
Utf8ConsoleOutput::~Utf8ConsoleOutput() = default;

bool RenameOver(const std::string& temporary, const std::string& path) {
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace sim
