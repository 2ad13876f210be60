#include <algorithm>

#include "console/console.h"
#include "console/operations.h"

void ProgressBarAdapter::FileRead(std::size_t bytes) {
  using namespace program_const;
  sink_.SetRange(static_cast<std::uint16_t>(
      std::min<std::size_t>(bytes / kFileBytesPerProgressStep, kProgressRangeMax)));
}

void ProgressBarAdapter::FrameAcknowledged(int index, std::uint32_t) { sink_.SetPosition(index); }

void ProgressBarAdapter::RunEnded(int result, int framesAcknowledged) {
  if (result == kProgramDone) sink_.SetPosition(framesAcknowledged + program_const::kFinalProgressExtra);
}

void OnProgram(ConsoleState& state, ConsoleWindow& window) {
  if (!window.Fetch(state)) return;
  if (!state.link.IsOpen()) {
    window.Message(msg::kNoConnection);
    return;
  }
  if (state.fileName.empty()) {
    window.Message(msg::kNoFileName);
    return;
  }
  // The revision and serial number as the operator left them: edits are what
  // the board gets.
  ProgressBarAdapter progress(*state.progress, state.stopRequested);
  const ProgramRun run = ProgramBoard(state.link, state.fileName.c_str(), state.serialNumber.c_str(),
                                      state.revision.c_str(), progress);
  window.Message(ProgramResultMessage(run.result));

  // Every run, good or bad, ends the connection: the board has been reset or is
  // in an unknown state, and a fresh Connect reads its identity again.
  CloseConsoleLink(state, window);
  ShowDisconnected(state, window);
}
