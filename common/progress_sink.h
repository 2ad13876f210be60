#pragma once

#include <cstdint>

// Where a programming run reports how far it has come: a range 0..upper and a
// position in it. A position beyond the upper end means "done", shown as full.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void SetRange(std::uint16_t upper) = 0;
  virtual void SetPosition(int position) = 0;
};
