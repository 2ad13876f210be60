#include "cli/commands/board_view.h"

#include "cli/exit_codes.h"
#include "cli/output/text_output.h"
#include "os/stop.h"
#include "run/interface_check.h"
#include "vocabulary/vocabulary.h"

std::string InterfaceRefusal(const CliOptions& options) {
  for (std::size_t i = 0; i < options.interfaces.size(); ++i) {
    const std::string& name = options.interfaces[i];
    for (std::size_t j = 0; j < i; ++j) {
      if (options.interfaces[j] == name) {
        return "--interface " + Printable(name) + " is given twice: one slot per network port";
      }
    }
    const InterfaceCheck check = CheckInterface(name);
    if (!check.usable) return "--interface " + Printable(name) + ": " + Printable(check.problem);
  }
  return "";
}

std::string TheInterface(const CliOptions& options) {
  return options.interfaces.empty() ? "" : options.interfaces.front();
}

BoardAddress BoardAddressOf(const CliOptions& options, LinkObserver* observer) {
  return {options.board, SessionConfig{options.waits, TheInterface(options), observer}};
}

IdentityChoice StampOf(const CliOptions& options) {
  IdentityChoice stamp;
  if (options.revisionGiven) stamp.revision = options.revision;
  if (options.serialGiven) stamp.serial = options.serial;
  stamp.verify = options.verify;
  return stamp;
}

std::string StopName() {
  switch (InterruptStatus()) {
    case 0: return "";
    case kInterruptedBySigterm: return "SIGTERM";
    default: return "Ctrl+C";
  }
}

void PrintBoard(std::FILE* diag, const ReachedBoard& board) {
  const std::string port = board.port.empty() ? "" : " on " + Printable(board.port);
  std::fprintf(diag, "Board %s%s over %s: revision %s, serial number %s, hardware %s\n", board.address.c_str(),
               port.c_str(), LinkTypeText(board.transport), Printable(board.identity.revision).c_str(),
               Printable(board.identity.serialNumber).c_str(), Printable(board.identity.hardware).c_str());
}

CliBoardView::CliBoardView(std::FILE* diag, bool quiet, Ready ready)
    : diag_(diag), ready_(std::move(ready)), progress_(diag, ChooseProgressStyle(diag, quiet)) {}

void CliBoardView::BoardReady(const ReachedBoard& board, const RunRequest& request, std::size_t frames) {
  if (ready_) ready_(board, request, frames);
}

void CliBoardView::CloseRefused(int code) {
  std::fprintf(diag_, "%s\n", MessageText(ConnectFailedMessage(code)).c_str());
}

void CliBoardView::Diagnostic(const std::string& line) { PrintDiagnostics(diag_, {line}); }
