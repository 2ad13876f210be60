#pragma once

// The varnel-sim command line, turned into board options. Parsed by hand: the
// program needs nothing beyond the standard library.

#include <string>

#include "sim/sim_board.h"

namespace sim {

struct SimArgs {
  SimOptions options;
  bool quiet = false;  // no line per command
  bool help = false;
};

// False with a one-line reason in error for an unknown option, a missing value
// or a value out of range.
bool ParseSimArgs(int argc, char** argv, SimArgs& out, std::string& error);

extern const char kSimUsage[];

}  // namespace sim
