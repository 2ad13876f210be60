#include "cli/commands/board_commands.h"

#include "cli/exit_codes.h"
#include "cli/output/text_output.h"
#include "cli/platform/interrupt.h"
#include "vocabulary/vocabulary.h"

bool LinkWatch::Open(const CliOptions& options, std::string& error) {
  if (options.traceFile.empty()) return true;
  trace_ = std::make_unique<CliTrace>();
  if (trace_->Open(options.traceFile, error)) return true;
  trace_.reset();
  return false;
}

int TraceStatus(const LinkWatch& watch, const CliOptions& options, std::FILE* err, int status) {
  const std::string failure = watch.Failure();
  if (failure.empty()) return status;
  std::fprintf(err, "tovrin-cli: the trace %s did not take every event: %s\n", Printable(options.traceFile).c_str(),
               failure.c_str());
  std::fflush(err);
  return exit_code::kLogUnwritable;
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
