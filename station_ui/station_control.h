#pragma once

// What the page may ask of the line: start it, stop it, and bind a scanned
// serial number to a slot's next board. The web server calls these on its own
// thread for the operator's requests only (never for a read-only viewer), so
// an implementation answers promptly and does its waiting elsewhere: Start
// starts the line's threads, Stop asks the line's stop token and returns.

#include <string>

namespace station_ui {

struct ControlAnswer {
  bool accepted = false;
  std::string words;  // what the page shows: why it was refused, or what happens now
};

class StationControl {
 public:
  virtual ~StationControl() = default;
  virtual ControlAnswer Start() = 0;
  // Every slot ends at its next exchange, the board left unlocked (as Ctrl+C).
  virtual ControlAnswer Stop() = 0;
  // `serial` as scanned, the Enter left out. Refused at once, before any board
  // is erased, when it is malformed, already programmed or already pending.
  virtual ControlAnswer BindSerial(int slot, const std::string& serial) = 0;
};

// The control until the station is connected to a line: refuses everything.
class UnconnectedControl final : public StationControl {
 public:
  ControlAnswer Start() override { return Refused(); }
  ControlAnswer Stop() override { return Refused(); }
  ControlAnswer BindSerial(int, const std::string&) override { return Refused(); }

 private:
  static ControlAnswer Refused() { return {false, "Not connected to a line yet."}; }
};

}  // namespace station_ui
