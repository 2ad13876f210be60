#include "cli/commands/board_commands.h"

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

SessionConfig SessionConfigOf(const CliOptions& options, LinkObserver* observer) {
  return SessionConfig{options.waits, TheInterface(options), observer};
}

std::string StopName() {
  switch (InterruptStatus()) {
    case 0: return "";
    case kInterruptedBySigterm: return "SIGTERM";
    default: return "Ctrl+C";
  }
}

RunRequest RequestFor(const CliOptions& options, const Session& session) {
  const IdentityTexts board = session.Texts();
  RunRequest request;
  request.revision = options.revisionGiven ? options.revision : board.revision;
  request.serial = options.serialGiven ? options.serial : board.serialNumber;
  request.verify = options.verify;
  return request;
}

void PrintBoard(std::FILE* diag, const std::string& address, const Session& session) {
  const IdentityTexts board = session.Texts();
  const std::string port = session.InterfaceName().empty() ? "" : " on " + Printable(session.InterfaceName());
  std::fprintf(diag, "Board %s%s over %s: revision %s, serial number %s, hardware %s\n", address.c_str(),
               port.c_str(), LinkTypeText(session.Transport()), Printable(board.revision).c_str(),
               Printable(board.serialNumber).c_str(), Printable(board.hardware).c_str());
}

void CloseSession(Session& session, std::FILE* diag) {
  if (!session.Link().IsOpen()) return;
  const int closed = session.Close();
  if (closed != 0) std::fprintf(diag, "%s\n", MessageText(ConnectFailedMessage(closed)).c_str());
}

int RunExitStatus(const RunReport& report, int interruptStatus) {
  if (report.Interrupted()) return interruptStatus != 0 ? interruptStatus : kInterruptedBySigint;
  if (report.stage == RunStage::kSkipped) return 0;
  const Json result = RunResultJson(report);
  return result.is_number_integer() ? result.get<int>() : exit_code::kInternal;
}
