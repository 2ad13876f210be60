#pragma once

// The S-record file a command works on, read once into memory: the bytes that
// are hashed, inspected and sent are the same bytes, whatever happens to the
// file afterwards. "-" (and /dev/stdin) read standard input to its end.

#include <string>

#include "flash/program_board.h"

constexpr const char kStandardInputName[] = "-";

// kProgramDone with bytes filled; kProgramFileNotOpened or kProgramDataError
// with the reason otherwise. Standard input is capped at the same size as a file.
FileRead ReadInputFile(const std::string& path, std::string& bytes);
