#include "cli/output/text_output.h"

#include "vocabulary/vocabulary.h"

std::string UnsentWarning(const FramePlan& plan) {
  return std::to_string(plan.unsentBytes) + (plan.unsentBytes == 1 ? " byte" : " bytes") + " of data from " +
         FlashAddress(plan.firstUnsent) + " are never sent: a run stops short of the flash's last bytes";
}
