#pragma once

// Small text helpers shared by the commands' reports. Printable and HexBytes
// come from the core's text helpers.

#include <string>

#include "common/text.h"
#include "flash/frame_plan.h"

// A message without the line end some of the window's texts carry.
std::string MessageText(std::string text);

// "16 bytes of data from 0x1FFF0 are never sent: ..." for a plan that leaves
// bytes other than 0xFF out.
std::string UnsentWarning(const FramePlan& plan);
