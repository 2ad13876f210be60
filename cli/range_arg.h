#pragma once

// The flash range a command line names: START:END, each hex with 0x or
// decimal, END not included; either may be left out (0 and the flash's end).

#include <cstdint>
#include <string>

// An empty text when `text` names a range inside the flash, with `start` and
// `end` set; otherwise why not.
std::string ParseFlashRange(const std::string& text, std::uint32_t& start, std::uint32_t& end);
