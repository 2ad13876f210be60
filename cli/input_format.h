#pragma once

// How a command reads its file: the format (told from the content unless
// --format says) and, for raw binary, where its first byte goes (--base).

#include <cstdint>

#include "flash/load_stats.h"

struct InputChoice {
  ImageFormat format = ImageFormat::kAuto;
  std::uint32_t base = 0;
  bool baseGiven = false;
};
