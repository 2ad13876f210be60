#include "cli/batch/batch_text.h"

#include "cli/output/text_output.h"

void BatchText::Waiting(const SlotId&, const std::string& nextSerial) {
  if (quiet_) return;
  std::fprintf(diag_, "Waiting for a board at %s (next serial number %s)...\n", board_.c_str(), nextSerial.c_str());
  std::fflush(diag_);
}

std::string ProgrammingText(LinkMode transport, const IdentityTexts& found, const std::string& serial) {
  return std::string("Board over ") + LinkTypeText(transport) + ": serial number " + Printable(found.serialNumber) +
         ", hardware " + Printable(found.hardware) + "; programming serial number " + Printable(serial);
}

std::string BoardResultText(const std::string& serial, const RunReport& report) {
  return (serial.empty() ? "" : Printable(serial) + ": ") + RunMessage(report);
}

void PrintSlotProblem(std::FILE* diag, const std::string& logFile, SlotProblem problem, const std::string& detail) {
  switch (problem) {
    case SlotProblem::kCloseRefused: std::fprintf(diag, "%s\n", detail.c_str()); break;
    case SlotProblem::kConflict: std::fprintf(diag, "tovrin-cli: %s\n", detail.c_str()); break;
    case SlotProblem::kRecordNotStored:
      std::fprintf(diag, "tovrin-cli: the database did not take this board's record: %s\n", detail.c_str());
      break;
    case SlotProblem::kRecordNotLogged:
      std::fprintf(diag, "tovrin-cli: the run log %s did not take this board's record: %s\n",
                   Printable(logFile).c_str(), detail.c_str());
      break;
  }
}

void BatchText::Programming(const SlotId&, LinkMode transport, const IdentityTexts& found, const std::string& serial) {
  if (!quiet_) {
    std::fprintf(diag_, "%s\n", ProgrammingText(transport, found, serial).c_str());
    std::fflush(diag_);
  }
  progress_ = std::make_unique<CliProgress>(diag_, ChooseProgressStyle(diag_, quiet_));
}

void BatchText::BoardDone(const SlotId&, const BoardResult& board, const RunReport& report, const Json& record) {
  if (records_ != nullptr) {
    std::fprintf(records_, "%s\n", JsonLine(record).c_str());
    std::fflush(records_);
  }
  if (quiet_ && report.Succeeded()) return;
  std::fprintf(diag_, "%s\n", BoardResultText(board.serial, report).c_str());
  std::fflush(diag_);
}

void BatchText::WaitingToGo(const SlotId&) {
  if (quiet_) return;
  std::fprintf(diag_, "Waiting for the board to go...\n");
  std::fflush(diag_);
}
