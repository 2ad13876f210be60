#pragma once

// How far a run has come, for a person at a terminal (a bar redrawn in place) or
// for a log that a script keeps (a line at every tenth). It also counts the
// frames the board acknowledged, which ProgramBoard reports only as positions.

#include <cstdio>

#include "common/progress_sink.h"

enum class ProgressStyle { kBar, kLines, kNone };

// kBar on a terminal, kLines otherwise, kNone when quiet.
ProgressStyle ChooseProgressStyle(std::FILE* stream, bool quiet);

class CliProgress : public ProgressSink {
 public:
  // totalFrames: what the run will send, from its plan; 0 when unknown.
  CliProgress(std::FILE* stream, ProgressStyle style, int totalFrames);

  // The file-size range ProgramBoard sets only approximates the frames; the
  // plan's frame count is the bar's range instead.
  void SetRange(std::uint16_t) override {}
  void SetPosition(int position) override;

  // Ends a bar's line, whatever the outcome; call once after the run.
  void Finish();
  int FramesAcknowledged() const { return frames_; }

 private:
  void Show(int done, bool complete);

  std::FILE* stream_;
  ProgressStyle style_;
  int total_;
  int frames_ = 0;
  int shownStep_ = -1;  // bar: the last width drawn; lines: the last tenth printed
  bool barOpen_ = false;
};
