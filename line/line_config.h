#pragma once

// What a production line is asked to do, as a front end chose it: the firmware,
// the identity each board gets, where its serial numbers come from, the
// read-back, the board it expects, its ports, its waits and how many boards.
// Nothing here knows where the choice came from (arguments, a form, a file).

#include <optional>
#include <string>
#include <vector>

#include "run/firmware_file.h"
#include "flash/program_image.h"
#include "link/link.h"

namespace line_const {
constexpr const char kBoardAddress[] = "192.168.167.100";  // every board's fixed address
constexpr int kDefaultWaitSeconds = 600;                   // for a board to come, or to go
}  // namespace line_const

struct LineConfig {
  // The firmware: read once when the line opens, hashed, loaded.
  std::string file;
  InputChoice input;  // its format, and a raw binary's base address
  // The identity stamped: the revision given, else the one the board holds; the
  // serial number always comes from the line's serial source.
  std::optional<std::string> revision;
  // The first serial number of the store's range (the default serial source).
  std::string serialFrom;
  // Each board's number is scanned from its label at its slot (ScannedSerials):
  // the line chooses no range, and serialFrom is empty.
  bool scanned = false;
  // Program a board whose serial number was already handed out from the store.
  bool allowRepeat = false;
  VerifyMode verify = VerifyMode::kNone;
  std::string expectHardware;  // empty: any board
  std::string board = line_const::kBoardAddress;
  // One slot per network port, each socket tied to its port; empty: one slot,
  // on whichever port the routes choose.
  std::vector<std::string> ports;
  int waitSeconds = line_const::kDefaultWaitSeconds;
  LinkWaits waits = kBoardWaits;  // the board's own; shorter in tests
  int count = 0;                  // boards across all slots; 0: until stopped or none comes
  // Who the station's records name: the person (empty: the user the process
  // runs as) and the command the records give ("batch").
  std::string operatorName;
  std::string command = "batch";
};
