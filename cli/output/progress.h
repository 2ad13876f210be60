#pragma once

// How far a run has come, for a person at a terminal (a bar redrawn in place) or
// for a log that a script keeps (a line at every tenth).

#include <cstdio>

#include "flash/program_image.h"

enum class ProgressStyle { kBar, kLines, kNone };

// kBar on a terminal, kLines otherwise, kNone when quiet.
ProgressStyle ChooseProgressStyle(std::FILE* stream, bool quiet);

class CliProgress : public ProgramObserver {
 public:
  CliProgress(std::FILE* stream, ProgressStyle style) : stream_(stream), style_(style) {}

  void RunStarted(int frames) override;
  void FrameAcknowledged(int index, std::uint32_t address) override;
  // Ends a bar's line, whatever the outcome.
  void RunEnded(int result, int framesAcknowledged) override;
  // Ctrl+C or SIGTERM ends the run at the next exchange.
  bool StopRequested() override;

 private:
  void Show(int done);

  std::FILE* stream_;
  ProgressStyle style_;
  int total_ = 0;
  int shownStep_ = -1;  // bar: the last width drawn; lines: the last tenth printed
  bool barOpen_ = false;
};
