#include "console/console.h"
#include "console/messages.h"
#include "console/operations.h"
#include "flash/program_board.h"

const char* ProgramResultMessage(int result) {
  switch (static_cast<ProgramResult>(result)) {
    case kProgramDone: return "Download Successful";
    case kProgramDataError: return "Error in S Record data";
    case kProgramChecksumError: return "Error in S Record check sum";
    case kProgramEraseFailed: return "Abort Erase Flash";
    case kProgramFrameFailed: return "Abort Program Flash";
    case kProgramLockFailed: return "Abort lock flash and reset CPU";
    case kProgramFileNotOpened: return "Cannot open S Record file";
  }
  return "Unknown programming result";
}

void OnProgram(ConsoleState& state, ConsoleWindow& window) {
  if (!window.Fetch(state)) return;
  if (state.link == kNoLink) {
    window.Message(msg::kNoConnection);
    return;
  }
  if (state.fileName.empty()) {
    window.Message(msg::kNoFileName);
    return;
  }
  // The revision and serial number as the operator left them: edits are what
  // the board gets.
  const int result = ProgramBoard(state.link, state.fileName.c_str(), state.serialNumber.c_str(),
                                  state.revision.c_str(), gLinkMode, *state.progress);
  window.Message(ProgramResultMessage(result));

  // Every run, good or bad, ends the connection: the board has been reset or is
  // in an unknown state, and a fresh Connect reads its identity again.
  CloseConsoleLink(state, window);
  ShowDisconnected(state, window);
}
