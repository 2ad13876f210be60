#pragma once

// The slots of a gang, shown together. On a terminal: one line per slot
// (slot, port, state, serial number, percent, the last board's result)
// redrawn in place by the main thread, diagnostics printed above it.
// Elsewhere: one line per event, each naming its slot and port. Under --json
// each board's record also goes to the result stream as the board ends, with
// its slot and port in it.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "line/slot_observer.h"

class GangDisplay {
 public:
  // Draws the table in place only when `inPlace` (a terminal that takes
  // cursor movement).
  GangDisplay(std::FILE* diag, std::FILE* out, bool json, bool quiet, bool inPlace,
              const std::vector<std::string>& interfaces, const std::string& logFile);
  ~GangDisplay();
  GangDisplay(const GangDisplay&) = delete;
  GangDisplay& operator=(const GangDisplay&) = delete;

  // Slot i's view (from 1), for its own thread.
  SlotObserver& Slot(int slot);
  // The main thread's turn: the table again if anything changed.
  void Redraw();

 private:
  struct Row {
    std::string interfaceName;
    std::string state = "starting";
    std::string serial;
    int percent = -1;  // none yet
    std::string result;
  };
  class View;
  friend class View;

  // Called with mutex_ held.
  void Event(int slot, const std::string& text);
  void DrawTable();
  std::string RowText(int slot) const;

  std::FILE* diag_;
  std::FILE* out_;
  bool json_;
  bool quiet_;
  bool inPlace_;
  std::string logFile_;
  std::mutex mutex_;  // guards the rows, the drawing and both streams
  std::vector<Row> rows_;
  std::vector<std::unique_ptr<View>> views_;
  bool changed_ = true;
  bool drawn_ = false;
};
