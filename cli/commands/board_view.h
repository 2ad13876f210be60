#pragma once

// What the commands that reach one board share on the command line: how the
// options say to reach it (the address, the port, the waits), the stamp asked
// for, who stopped a run, and the view of the board's command (its line, the
// progress, a close the socket library refused). The work itself is the core's
// (run/one_board.h, line/one_board_run.h).

#include <cstdio>
#include <functional>
#include <string>

#include "cli/cli_options.h"
#include "cli/output/progress.h"
#include "run/one_board.h"

// Every --interface names a port that is there and up, and none twice; else
// the reason (naming the interfaces there are), before anything is sent.
std::string InterfaceRefusal(const CliOptions& options);

// The one port a command that reaches one board runs on; empty: none given.
std::string TheInterface(const CliOptions& options);

// The board the options name, reached with their waits on their one port, the
// link watched by `observer` (null: nothing).
BoardAddress BoardAddressOf(const CliOptions& options, LinkObserver* observer);

// The identity as the window pre-fills it: what the operator gave, else what
// the board holds; and the read-back mode asked for.
IdentityChoice StampOf(const CliOptions& options);

// "Ctrl+C" or "SIGTERM" once a stop was asked for, else empty.
std::string StopName();

// "Board ADDR over UDP: revision B, serial number 123456, hardware VR32".
void PrintBoard(std::FILE* diag, const ReachedBoard& board);

// A one-board command as the command line shows it on `diag`: the progress
// (a bar, lines, or none when quiet), Ctrl+C and SIGTERM as the stop, a close
// refused in the window's words, and `ready` once the board is ready.
class CliBoardView : public BoardObserver {
 public:
  using Ready = std::function<void(const ReachedBoard&, const RunRequest&, std::size_t)>;
  CliBoardView(std::FILE* diag, bool quiet, Ready ready);

  void BoardReady(const ReachedBoard& board, const RunRequest& request, std::size_t frames) override;
  void CloseRefused(int code) override;
  std::string StoppedBy() override { return StopName(); }
  bool StopRequested() override { return progress_.StopRequested(); }

  void RunStarted(int frames) override { progress_.RunStarted(frames); }
  void FrameAcknowledged(int index, std::uint32_t address) override { progress_.FrameAcknowledged(index, address); }
  void RunEnded(int result, int acknowledged) override { progress_.RunEnded(result, acknowledged); }
  void ReadStarted(int reads) override { progress_.ReadStarted(reads); }
  void BlockRead(int index, std::uint32_t address) override { progress_.BlockRead(index, address); }
  void ReadEnded(bool whole) override { progress_.ReadEnded(whole); }
  // Each byte outside printable ASCII as \xHH, so that a record quoted cannot drive the terminal.
  void Diagnostic(const std::string& line) override;

 private:
  std::FILE* diag_;
  Ready ready_;
  CliProgress progress_;
};
