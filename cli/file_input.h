#pragma once

// The S-record file a command works on, read once into memory: the bytes that
// are hashed, inspected and sent are the same bytes, whatever happens to the
// file afterwards. "-" (and /dev/stdin) read standard input to its end.

#include <memory>
#include <string>

#include "cli/input_format.h"
#include "flash/program_board.h"

constexpr const char kStandardInputName[] = "-";

// kProgramDone with bytes filled; kProgramFileNotOpened or kProgramDataError
// with the reason otherwise. Standard input is capped at the same size as a file.
FileRead ReadInputFile(const std::string& path, std::string& bytes);

// The file a run sends: read once, hashed, and loaded in the format chosen or
// found (a file that gives no data is refused here too); load.format names it.
struct LoadedFile {
  int result = kProgramDone;  // or the result that ends the command before any board
  std::string reason;         // why the file could not be read
  std::string sha256;         // of the bytes read
  LoadReport load;
  std::unique_ptr<FlashImage> image = std::make_unique<FlashImage>();
};
LoadedFile LoadInputFile(const std::string& path, const InputChoice& input);
