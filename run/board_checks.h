#pragma once

// The checks a board passes before its erase, beside its serial number.

#include <string>

#include "run/run_report.h"

// Refuses (RunStage::kRefused, Refusal::kWrongHardware) a board whose hardware
// code is not the one expected; an empty expectation takes any board. True
// when it passes.
bool CheckHardware(RunReport& report, const std::string& expected);
