#pragma once

// Stop requests from outside the program: Ctrl+C and SIGTERM on POSIX; Ctrl+C,
// Ctrl+Break and the closing of the console window on Windows.

// --- A command that talks to a board ----------------------------------------
// The first request asks the run to stop at the next exchange boundary (so the
// board is left unlocked and the record is written), a second Ctrl+C ends the
// process at once.

// Installs the handlers; call once before talking to a board.
void InstallInterruptHandlers();

// 0 while no stop was asked for, else the signal's exit status: 130 for Ctrl+C
// (SIGINT), 143 for SIGTERM.
int InterruptStatus();
constexpr int kInterruptedBySigint = 130;
constexpr int kInterruptedBySigterm = 143;

// For tests: forget a stop that was asked for.
void ClearInterrupt();

// --- A server that waits for them: the simulated board ----------------------

// Made before the server's threads start, so that the requests reach WaitFor
// and not a thread. One at a time.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Until a stop request arrives or the seconds have passed.
  void WaitFor(int seconds);
};
