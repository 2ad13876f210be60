#include <algorithm>

#include "console/console.h"
#include "console/operations.h"
#include "run/program_run.h"

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
  if (!FetchFields(state, window)) return;
  if (!state.session.Link().IsOpen()) {
    window.Message(msg::kNoConnection);
    return;
  }
  if (state.fileName.empty()) {
    window.Message(msg::kNoFileName);
    return;
  }
  ProgressBarAdapter progress(*state.progress, &state.closeRequested);
  const RunReport report = ProgramBoard(state.session, state.fileName, StampOf(state), progress);
  window.Message(RunMessage(report));

  // Every run, good or bad, ends the connection: the board has been reset or is
  // in an unknown state, and a fresh Connect reads its identity again.
  CloseConsoleLink(state, window);
  ShowDisconnected(state, window);
}
