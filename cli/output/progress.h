#pragma once

// How far a run or a read-back has come, for a person at a terminal (a bar
// redrawn in place) or for a log that a script keeps (a line at every tenth).

#include <cstdio>

#include "flash/flash_read.h"
#include "flash/program_image.h"

enum class ProgressStyle { kBar, kLines, kNone };

// kBar on a terminal, kLines otherwise, kNone when quiet.
ProgressStyle ChooseProgressStyle(std::FILE* stream, bool quiet);

// One object follows a read-back and the run after it (program --skip-if-same).
class CliProgress : public ProgramObserver, public ReadObserver {
 public:
  CliProgress(std::FILE* stream, ProgressStyle style) : stream_(stream), style_(style) {}

  void RunStarted(int frames) override;
  void FrameAcknowledged(int index, std::uint32_t address) override;
  // Ends a bar's line, whatever the outcome.
  void RunEnded(int result, int framesAcknowledged) override;
  // Counted in blocks of 16 bytes, one read each.
  void ReadStarted(int reads) override;
  void BlockRead(int index, std::uint32_t address) override;
  void ReadEnded(bool whole) override;
  // Ctrl+C or SIGTERM ends the run or the read at the next exchange.
  bool StopRequested() override;

 private:
  void Start(int total, const char* done, const char* unit);
  void Show(int done);
  void EndLine();

  std::FILE* stream_;
  ProgressStyle style_;
  const char* doneWord_ = "programmed";
  const char* unit_ = "frames";
  int total_ = 0;
  int shownStep_ = -1;  // bar: the last width drawn; lines: the last tenth printed
  bool barOpen_ = false;
};
