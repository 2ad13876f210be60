#pragma once

// Running tovrin-cli in-process on captured streams, and the files and board
// contents its tests compare against.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "os/files.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "tests/support/board_runs.h"
#include "tests/support/sim_helpers.h"

namespace clitest {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  // The result stream as JSON; discarded (is_discarded()) when it is not one
  // object on one line.
  nlohmann::json Json() const {
    if (std::count(out.begin(), out.end(), '\n') != 1 || out.back() != '\n') return nlohmann::json::value_t::discarded;
    nlohmann::json parsed = nlohmann::json::parse(out, nullptr, false);
    return parsed.is_object() ? parsed : nlohmann::json(nlohmann::json::value_t::discarded);
  }
};

// RunCli with argv = {"tovrin-cli", args...}, with short waits.
inline Outcome Cli(const std::vector<std::string>& args) {
  MemoryStream out;
  MemoryStream err;
  std::vector<const char*> argv = {"tovrin-cli"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  Outcome o;
  o.status = RunCli(static_cast<int>(argv.size()), argv.data(), {out.File(), err.File()}, kFastWaits);
  o.out = out.Text();
  o.err = err.Text();
  // The last resort at the command's edge is for faults of the tool's own: no
  // case of any table may end there.
  EXPECT_NE(o.status, exit_code::kInternal) << "an exception reached the command's edge: " << o.err;
  return o;
}

// Each line of text as JSON (discarded where a line is not JSON).
inline std::vector<nlohmann::json> JsonLinesOf(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line, nullptr, false));
  return lines;
}

// The same for a file: a run log, a trace, a STATE.
inline std::vector<nlohmann::json> JsonLines(const std::string& path) {
  std::ifstream in(Utf8Path(path));
  std::ostringstream text;
  text << in.rdbuf();
  return JsonLinesOf(text.str());
}

// The serial number a board's flash holds in its identity record.
inline std::string SerialOnBoard(const std::vector<std::uint8_t>& flash) {
  if (flash.size() < 0x430) return "";
  return std::string(reinterpret_cast<const char*>(&flash[0x421]));
}

}  // namespace clitest
