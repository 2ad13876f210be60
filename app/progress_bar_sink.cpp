#include "app/progress_bar_sink.h"

#include <algorithm>

void ProgressBarSink::SetRange(std::uint16_t upper) {
  upper_ = upper;
  // A bar whose range is 0..0 shows a "busy" animation instead of empty or
  // full; give it one step so that "done" can still be drawn as full.
  bar_->setRange(0, std::max(1, upper_));
  bar_->repaint();
}

void ProgressBarSink::SetPosition(int position) {
  if (upper_ == 0) {
    bar_->setValue(position > 0 ? 1 : 0);
  } else {
    bar_->setValue(std::clamp(position, 0, upper_));
  }
  bar_->repaint();
}
