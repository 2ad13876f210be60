#pragma once

// Small text helpers shared by the commands' reports. Printable, HexBytes and
// MessageText come from the core's text helpers.

#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "flash/frame_plan.h"

// "16 bytes of data from 0x1FFF0 are never sent: ..." for a plan that leaves
// bytes other than 0xFF out.
std::string UnsentWarning(const FramePlan& plan);

// The core's diagnostic lines (each with its line end) on `diag`: every byte
// outside printable ASCII as \xHH, so that a record or a file name quoted
// cannot drive the terminal; one write each, flushed.
void PrintDiagnostics(std::FILE* diag, const std::vector<std::string>& lines);
