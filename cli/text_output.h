#pragma once

// Small text helpers shared by the commands' reports.

#include <cstdint>
#include <string>

#include "flash/frame_plan.h"

// A message without the line end some of the window's texts carry.
std::string MessageText(std::string text);

// Text from the board or a file, fit for a terminal: bytes outside printable
// ASCII as \xHH, so a blank record (0xFF) or a stray control byte shows as such.
std::string Printable(const std::string& text);

// Bytes as upper-case hex pairs with no separator ("42313233...").
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);

// "16 bytes of data from 0x1FFF0 are never sent: ..." for a plan that leaves
// bytes other than 0xFF out.
std::string UnsentWarning(const FramePlan& plan);
