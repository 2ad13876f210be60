#include "cli/batch/batch_text.h"

#include "cli/output/text_output.h"

void BatchText::Waiting(const std::string& nextSerial) {
  if (quiet_) return;
  std::fprintf(diag_, "Waiting for a board at %s (next serial number %s)...\n", board_.c_str(), nextSerial.c_str());
  std::fflush(diag_);
}

void BatchText::Programming(LinkMode transport, const IdentityTexts& found, const std::string& serial) {
  if (quiet_) return;
  std::fprintf(diag_, "Board over %s: serial number %s, hardware %s; programming serial number %s\n",
               LinkTypeText(transport), Printable(found.serialNumber).c_str(), Printable(found.hardware).c_str(),
               Printable(serial).c_str());
  std::fflush(diag_);
}

ProgramObserver& BatchText::StartProgress() {
  progress_ = std::make_unique<CliProgress>(diag_, ChooseProgressStyle(diag_, quiet_));
  return *progress_;
}

void BatchText::BoardDone(const std::string& serial, const RunReport& report, const Json&) {
  if (quiet_ && report.Succeeded()) return;
  std::fprintf(diag_, "%s%s%s\n", Printable(serial).c_str(), serial.empty() ? "" : ": ", RunMessage(report).c_str());
  std::fflush(diag_);
}

void BatchText::WaitingToGo() {
  if (quiet_) return;
  std::fprintf(diag_, "Waiting for the board to go...\n");
  std::fflush(diag_);
}
