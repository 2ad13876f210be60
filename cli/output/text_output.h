#pragma once

// Small text helpers shared by the commands' reports. Printable, HexBytes and
// MessageText come from the core's text helpers.

#include <string>

#include "common/text.h"
#include "flash/frame_plan.h"

// "16 bytes of data from 0x1FFF0 are never sent: ..." for a plan that leaves
// bytes other than 0xFF out.
std::string UnsentWarning(const FramePlan& plan);
