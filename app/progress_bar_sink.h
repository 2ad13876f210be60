#pragma once

#include <QProgressBar>

#include "common/progress_sink.h"

// The programming run's progress, shown on the window's bar while the run keeps
// the window's thread busy: every change repaints the bar at once, without
// handling any other event, so the operator sees the run advance but cannot
// press anything in the middle of it.
class ProgressBarSink : public ProgressSink {
 public:
  explicit ProgressBarSink(QProgressBar* bar = nullptr) : bar_(bar) {}
  void Bind(QProgressBar* bar) { bar_ = bar; }

  void SetRange(std::uint16_t upper) override;
  // A position beyond the range shows a full bar; the bar itself would ignore it.
  void SetPosition(int position) override;

 private:
  QProgressBar* bar_;
  int upper_ = 100;
};
