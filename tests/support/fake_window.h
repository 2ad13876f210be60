#pragma once

// A window for the console logic without a windowing toolkit: fields as plain
// strings, buttons as flags, messages and progress calls recorded in order.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "dialog/control_ids.h"
#include "tests/support/sim_helpers.h"

class FakeProgress : public ProgressSink {
 public:
  void SetRange(std::uint16_t upper) override { ranges.push_back(upper); }
  void SetPosition(int position) override { positions.push_back(position); }
  std::vector<int> ranges;
  std::vector<int> positions;
};

class FakeWindow : public ConsoleWindow {
 public:
  explicit FakeWindow(const LinkWaits& waits = kFastWaits) : state(waits) { Reset(); }
  FakeWindow(const FakeWindow&) = delete;
  FakeWindow& operator=(const FakeWindow&) = delete;

  // Back to a freshly opened window, closing a link left open.
  void Reset() {
    OnWindowEnd(state);
    static_cast<ConsoleFields&>(state) = ConsoleFields{};
    state.address.clear();
    state.progress = &progress;
    progress = FakeProgress{};
    fields = state;
    // The buttons as the window starts.
    enabled = {{IDC_CONNECT, true}, {IDC_DISCONNECT, false}, {IDC_PROGRAM, false}};
    enableCalls.clear();
    messages.clear();
    chosen.clear();
    fetches = shows = serialFocused = 0;
  }

  void Fetch(ConsoleFields& s) override {
    ++fetches;
    s = fields;
  }
  void Show(const ConsoleFields& s) override {
    fields = s;
    ++shows;
  }
  void Enable(ConsoleButton button, bool on) override {
    const int control = ControlOf(button);
    enabled[control] = on;
    enableCalls.emplace_back(control, on);
  }
  void Message(const std::string& text) override { messages.push_back(text); }
  // The operator picks `chosen`, or cancels when it is empty.
  bool ChooseFile(std::string& path) override {
    if (chosen.empty()) return false;
    path = chosen;
    return true;
  }
  void FocusSerialNumber() override { ++serialFocused; }

  ConsoleState state;    // what the console works on (the dialog's members)
  ConsoleFields fields;  // what the controls show; tests type into it
  FakeProgress progress;
  std::map<int, bool> enabled;
  std::vector<std::pair<int, bool>> enableCalls;
  std::vector<std::string> messages;
  std::string chosen;
  int serialFocused = 0;
  int fetches = 0;
  int shows = 0;
};
