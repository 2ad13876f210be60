#pragma once

// What ends a production line (or one of its slots) before its time. A front
// end says what each means for its own: tovrin-cli turns it into an exit
// status, a window into a message.

#include "station/serial_store.h"

enum class LineEnding {
  kNone,              // ran its course: the count met, a stop asked for, or still running
  kNoBoardCame,       // no board answered within the wait
  kBoardStayed,       // the board just programmed still answered after the wait
  kRecordLost,        // the run log, the trace or the capture did not take a board's record
  kStoreUnusable,     // the serial store cannot be read, reached or written
  kSerialsUsedUp,     // the range has no number left, or fewer than the count
  kStoreUnsupported,  // the store was asked for what it cannot do
  kConflict,          // a board's number was released while its run went on: recorded as a conflict
  kFileRefused,       // the firmware could not be read or loaded
  kInternal,          // a fault of the tool's own ended a slot
};

// The line's ending for a store's failure (kNone for none).
inline LineEnding EndingOf(StoreFailure failure) {
  switch (failure) {
    case StoreFailure::kNone: return LineEnding::kNone;
    case StoreFailure::kUnusable: return LineEnding::kStoreUnusable;
    case StoreFailure::kUsedUp: return LineEnding::kSerialsUsedUp;
    case StoreFailure::kUnsupported:
    case StoreFailure::kLeaseHeld: return LineEnding::kStoreUnsupported;
    case StoreFailure::kConflict: return LineEnding::kConflict;
  }
  return LineEnding::kInternal;
}
