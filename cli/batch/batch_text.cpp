#include "cli/batch/batch_text.h"

#include "cli/output/text_output.h"

void BatchText::Waiting(const std::string& nextSerial) {
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

void BatchText::Programming(LinkMode transport, const IdentityTexts& found, const std::string& serial) {
  if (quiet_) return;
  std::fprintf(diag_, "%s\n", ProgrammingText(transport, found, serial).c_str());
  std::fflush(diag_);
}

ProgramObserver& BatchText::StartProgress() {
  progress_ = std::make_unique<CliProgress>(diag_, ChooseProgressStyle(diag_, quiet_));
  return *progress_;
}

void BatchText::BoardDone(const std::string& serial, const RunReport& report, const Json& record) {
  if (records_ != nullptr) {
    std::fprintf(records_, "%s\n", JsonLine(record).c_str());
    std::fflush(records_);
  }
  if (quiet_ && report.Succeeded()) return;
  std::fprintf(diag_, "%s\n", BoardResultText(serial, report).c_str());
  std::fflush(diag_);
}

void BatchText::WaitingToGo() {
  if (quiet_) return;
  std::fprintf(diag_, "Waiting for the board to go...\n");
  std::fflush(diag_);
}
