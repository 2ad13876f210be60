#pragma once

// A board read back through the read command alone (nothing erased, written or
// locked): a dump of its flash, a comparison with what a run of a file would
// write, and a run that programs the board only when it does not already hold
// that. Front ends drive these and print; none sends a command itself.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flash/flash_diff.h"
#include "flash/flash_read.h"
#include "run/firmware_file.h"
#include "run/program_run.h"
#include "run/run_report.h"
#include "run/session.h"

// Flash addresses from `start` up to, not including, `end`.
struct FlashRange {
  std::uint32_t start = 0;
  std::uint32_t end = kFlashSize;

  std::uint32_t Length() const { return end - start; }
};

struct BoardDump {
  FlashRange range;
  FlashRead read;
  std::vector<std::uint8_t> bytes;  // range.Length(); only a whole read fills them all
  double seconds = 0;
};

// Reads `range` (start < end <= kFlashSize) of the board of an open session.
BoardDump DumpBoard(Session& session, const FlashRange& range, ReadObserver& observer);

struct BoardComparison {
  FlashRead read;
  FlashDiff diff;  // when the read was whole
  double seconds = 0;

  bool Same() const { return read.Whole() && diff.bytes == 0; }
};

// Reads the whole flash back and holds it against what a run of `file` with
// `request`'s stamp would leave: the stamped image where the plan's frames
// write, 0xFF everywhere else. With `untilFirstDifference` the read ends at the
// first block that differs (ReadEnd::kDiffers), as a run that only needs to
// know whether to program does.
BoardComparison CompareBoard(Session& session, const FirmwareFile& file, const RunRequest& request,
                             ReadObserver& observer, bool untilFirstDifference = false);

// ProgramSession, after reading the board back: a board that already holds what
// the run would write is left alone (RunStage::kSkipped, nothing erased). A stop
// during the read ends the run before the erase, interrupted at the read not
// sent; a read that gets no good reply cannot tell, so the board is programmed.
// report.compared says how the read ended.
RunReport ProgramUnlessSame(Session& session, const FirmwareFile& file, const RunRequest& request,
                            ProgramObserver& observer, ReadObserver& readObserver);

// Why a read did not end whole (a failed or stopped request, by `stoppedBy`);
// none for a whole read or one that stopped at a difference.
std::optional<RunCause> ReadCause(const FlashRead& read, const std::string& stoppedBy);
