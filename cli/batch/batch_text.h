#pragma once

// A batch on one port, told as it always was: a line per event on the
// diagnostic stream and the run's progress bar (or its lines at each tenth).

#include <cstdio>
#include <memory>
#include <string>

#include "cli/output/progress.h"
#include "cli/output/text_output.h"
#include "line/slot_observer.h"

// "Board over UDP: serial number F001, hardware VR32; programming serial number SN0004"
std::string ProgrammingText(LinkMode transport, const IdentityTexts& found, const std::string& serial);
// "SN0004: Download Successful", or the message alone for a board refused before
// it got a number.
std::string BoardResultText(const std::string& serial, const RunReport& report);
// "Port eth1 is down: waiting for it to come back", or that it is up again.
std::string PortChangeText(const std::string& port, bool down);
// A slot's problem beside its run, as a line on `diag`; `logFile` names the run log.
void PrintSlotProblem(std::FILE* diag, const std::string& logFile, SlotProblem problem, const std::string& detail);

class BatchText : public SlotObserver {
 public:
  // records: where each board's record goes under --json, as a gang prints
  // them (null: none), so that the output has one shape for any number of ports.
  BatchText(std::FILE* diag, const std::string& board, const std::string& logFile, bool quiet,
            std::FILE* records = nullptr)
      : diag_(diag), board_(board), logFile_(logFile), quiet_(quiet), records_(records) {}

  void Waiting(const SlotId& slot, const std::string& nextSerial) override;
  void Programming(const SlotId& slot, LinkMode transport, const IdentityTexts& found,
                   const std::string& serial) override;
  void RunStarted(const SlotId&, int frames) override { progress_->RunStarted(frames); }
  void FrameAcknowledged(const SlotId&, int index, std::uint32_t address) override {
    progress_->FrameAcknowledged(index, address);
  }
  void RunEnded(const SlotId&, int result, int framesAcknowledged) override {
    progress_->RunEnded(result, framesAcknowledged);
  }
  void BoardDone(const SlotId& slot, const BoardResult& board, const RunReport& report, const Json& record) override;
  void WaitingToGo(const SlotId& slot) override;
  void PortChanged(const SlotId& slot, bool down) override;
  void Problem(const SlotId&, SlotProblem problem, const std::string& detail) override {
    PrintSlotProblem(diag_, logFile_, problem, detail);
  }
  void Diagnostic(const SlotId&, const std::string& line) override { PrintDiagnostics(diag_, {line + "\n"}); }

 private:
  std::FILE* diag_;
  std::string board_;
  std::string logFile_;
  bool quiet_;
  std::FILE* records_;
  std::unique_ptr<CliProgress> progress_;
};
