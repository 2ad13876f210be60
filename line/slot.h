#pragma once

// One slot of a production line: the loop of a station's port. Wait for a
// board to answer, admit it (its model, a serial number from the line),
// program it, record it, watch it go, and again, until the count is met, no
// board comes, the line ends or the front end asks it to stop.

#include <string>

#include "line/line_stop.h"
#include "line/production_line.h"
#include "line/slot_observer.h"
#include "run/firmware_file.h"

// Runs slot `slot` on the calling thread until it ends; `wireFiles` (may be null)
// keeps its exchanges. Every event goes to `observer`.
SlotFigures RunSlot(const SlotId& slot, const FirmwareFile& image, ProductionLine& line, SlotObserver& observer,
                    const LineStop& stop, LinkWatch* wireFiles);
