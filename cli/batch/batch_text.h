#pragma once

// A batch on one port, told as it always was: a line per event on the
// diagnostic stream and the run's progress bar (or its lines at each tenth).

#include <cstdio>
#include <memory>
#include <string>

#include "cli/batch/slot_output.h"
#include "cli/output/progress.h"

class BatchText : public SlotOutput {
 public:
  // records: where each board's record goes under --json, as a gang prints
  // them (null: none), so that the output has one shape for any number of ports.
  BatchText(std::FILE* diag, const std::string& board, bool quiet, std::FILE* records = nullptr)
      : diag_(diag), board_(board), quiet_(quiet), records_(records) {}

  void Waiting(const std::string& nextSerial) override;
  void Programming(LinkMode transport, const IdentityTexts& found, const std::string& serial) override;
  ProgramObserver& StartProgress() override;
  void BoardDone(const std::string& serial, const RunReport& report, const Json& record) override;
  void WaitingToGo() override;
  void Ended(const SlotSummary&) override {}

 private:
  std::FILE* diag_;
  std::string board_;
  bool quiet_;
  std::FILE* records_;
  std::unique_ptr<CliProgress> progress_;
};
