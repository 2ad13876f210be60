#include "run/board_checks.h"

#include "common/text.h"

bool CheckHardware(RunReport& report, const std::string& expected) {
  const std::string hardware = DescribeIdentity(report.identityBefore).hardware;
  if (expected.empty() || hardware == expected) return true;
  report.stage = RunStage::kRefused;
  report.refusal = Refusal::kWrongHardware;
  report.refusalMessage =
      "Wrong board: hardware code " + Printable(hardware) + ", expected " + Printable(expected) + ". Nothing was erased.";
  return false;
}
