#include "cli/commands/board_commands.h"

#include "cli/exit_codes.h"
#include "cli/output/text_output.h"
#include "cli/platform/interrupt.h"
#include "run/interface_check.h"
#include "vocabulary/vocabulary.h"

bool LinkWatch::Open(const CliOptions& options, std::string& error) {
  if (options.traceFile.empty()) return true;
  trace_ = std::make_unique<CliTrace>();
  if (trace_->Open(options.traceFile, error)) return true;
  trace_.reset();
  return false;
}

bool InterfacesUsable(const CliOptions& options, const CliStreams& streams) {
  for (std::size_t i = 0; i < options.interfaces.size(); ++i) {
    const std::string& name = options.interfaces[i];
    for (std::size_t j = 0; j < i; ++j) {
      if (options.interfaces[j] == name) {
        std::fprintf(streams.err, "tovrin-cli: --interface %s is given twice: one slot per network port\n",
                     Printable(name).c_str());
        return false;
      }
    }
    const InterfaceCheck check = CheckInterface(name);
    if (!check.usable) {
      std::fprintf(streams.err, "tovrin-cli: --interface %s: %s\n", Printable(name).c_str(),
                   Printable(check.problem).c_str());
      return false;
    }
  }
  return true;
}

std::string TheInterface(const CliOptions& options) {
  return options.interfaces.empty() ? "" : options.interfaces.front();
}

LinkObserver* LinkWatch::ObserverFor(int slot, const std::string& interfaceName) {
  if (!trace_) return nullptr;
  if (slot == 0 && interfaceName.empty()) return trace_.get();
  slots_.push_back(std::make_unique<SlotTrace>(*trace_, slot, interfaceName));
  return slots_.back().get();
}

std::string StopName() {
  switch (InterruptStatus()) {
    case 0: return "";
    case kInterruptedBySigterm: return "SIGTERM";
    default: return "Ctrl+C";
  }
}

bool CheckHardware(RunReport& report, const std::string& expected) {
  const std::string hardware = DescribeIdentity(report.identityBefore).hardware;
  if (expected.empty() || hardware == expected) return true;
  report.stage = RunStage::kRefused;
  report.refusal = exit_code::kWrongHardware;
  report.refusalMessage =
      "Wrong board: hardware code " + Printable(hardware) + ", expected " + Printable(expected) + ". Nothing was erased.";
  return false;
}

void CloseSession(Session& session, std::FILE* diag) {
  if (!session.Link().IsOpen()) return;
  const int closed = session.Close();
  if (closed != 0) std::fprintf(diag, "%s\n", MessageText(ConnectFailedMessage(closed)).c_str());
}

int RunExitStatus(const RunReport& report, int interruptStatus) {
  if (report.Interrupted()) return interruptStatus != 0 ? interruptStatus : kInterruptedBySigint;
  const Json result = RunResultJson(report);
  return result.is_number_integer() ? result.get<int>() : exit_code::kInternal;
}
