#pragma once

// Ctrl+C and SIGTERM for a command that talks to a board: the first one asks the
// run to stop at the next exchange boundary (so the board is left unlocked and
// the record is written), a second Ctrl+C ends the process at once.

// Installs the handlers; call once before talking to a board.
void InstallInterruptHandlers();

// 0 while no stop was asked for, else the signal's exit status: 130 for Ctrl+C
// (SIGINT), 143 for SIGTERM.
int InterruptStatus();
constexpr int kInterruptedBySigint = 130;
constexpr int kInterruptedBySigterm = 143;

// For tests: forget a stop that was asked for.
void ClearInterrupt();
