#pragma once

// Opening a production line (the checks before its first board) and running
// its slots: one per network port, each on a thread of its own, or one on the
// calling thread for a line on one port. A front end builds a LineConfig, opens
// the store it chose, calls OpenLine, makes a ProductionLine, gives each slot an
// observer and calls RunLine; it stops the line through its LineStop.

#include <functional>
#include <string>
#include <vector>

#include "line/line_config.h"
#include "line/line_ending.h"
#include "line/line_stop.h"
#include "line/production_line.h"
#include "line/slot_observer.h"
#include "run/firmware_file.h"
#include "station/serial_store.h"

namespace line_const {
constexpr int kIdleMs = 100;  // a line of several slots calls the front end's idle this often
}  // namespace line_const

// What the checks before the first board found: the firmware read, or what
// ends the line before any board.
struct LineOpening {
  LineEnding ending = LineEnding::kNone;  // kNone: the line may start
  std::string endingText;                 // in the operator's words
  FirmwareFile file;                      // read and loaded when the line opened
  bool Opened() const { return ending == LineEnding::kNone; }
};

// The store takes the line's range (config.serialFrom) and has numbers for the
// count; then the firmware is read once and loaded.
LineOpening OpenLine(const LineConfig& config, SerialStore& store);

// The slots of a line, in order: one per port (index from 1) when there are
// several, else one (index 0) on the one port or none.
std::vector<SlotId> SlotsOf(const LineConfig& config);

// Runs every slot until each has ended: `observers` holds one per slot, as
// SlotsOf orders them; each slot's diagnostic lines go to its observer. With
// several slots, each runs on a thread of its own, and the calling thread
// calls `idle` (may be empty) every line_const::kIdleMs until all have ended.
// A slot that fails through an exception ends the line (LineEnding::kInternal).
std::vector<SlotFigures> RunLine(const FirmwareFile& image, ProductionLine& line,
                                 const std::vector<SlotObserver*>& observers, const LineStop& stop, LinkWatch* wireFiles,
                                 const std::function<void()>& idle);

// The slots' figures added up, over the line's `seconds`.
LineFigures FiguresOf(const std::vector<SlotFigures>& slots, double seconds);
