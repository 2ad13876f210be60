#include "cli/output/text_output.h"

#include "common/diagnostic_line.h"
#include "vocabulary/vocabulary.h"

std::string UnsentWarning(const FramePlan& plan) {
  return std::to_string(plan.unsentBytes) + (plan.unsentBytes == 1 ? " byte" : " bytes") + " of data from " +
         FlashAddress(plan.firstUnsent) + " are never sent: a run stops short of the flash's last bytes";
}

void PrintDiagnostics(std::FILE* diag, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::string escaped = EscapedLine(line);
    std::fwrite(escaped.data(), 1, escaped.size(), diag);
    // A line that sits in a buffer is no use to someone watching a stuck run.
    std::fflush(diag);
  }
}
