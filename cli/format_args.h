#pragma once

// --format srec|ihex|elf|bin and --base ADDR, for any command that reads a file.

#include <CLI/CLI.hpp>

#include "run/firmware_file.h"

// Adds both options to command; a --base without --format bin is a usage error.
void AddFormatOptions(CLI::App& command, InputChoice& input);
