#pragma once

// The native Windows window: a dialog laid out from the shared dialog table,
// whose buttons call the console's operations. It keeps no logic of its own
// beyond moving text between the controls and the console's fields.

#include <windows.h>

#include "console/console.h"

class Win32ProgressSink : public ProgressSink {
 public:
  void Bind(HWND bar) { bar_ = bar; }
  void SetRange(std::uint16_t upper) override;
  void SetPosition(int position) override;

 private:
  HWND bar_ = nullptr;
};

// While an operation runs, the window keeps painting and answering the window
// manager; the operator's clicks and keys are dropped, except a request to
// close, which ends a run at its next exchange boundary. The link calls Idle
// only while a reply is late, and a quick board answers every request within a
// few milliseconds, so the pump also runs from the link's trace of each
// request and reply, at most once per interval.
class Win32LinkPump : public LinkObserver {
 public:
  explicit Win32LinkPump(bool& closeRequested) : closeRequested_(closeRequested) {}
  void Idle() override;
  void Trace(const LinkTraceEvent& event) override;
  // To standard output, as the tool always wrote them.
  void Diagnostic(const std::string& line) override { WriteDiagnostic(line); }

 private:
  bool& closeRequested_;
  unsigned long long lastPumpMs_ = 0;
};

class TovrinWindow : public ConsoleWindow {
 public:
  explicit TovrinWindow(HINSTANCE instance);
  // Runs the dialog until it is closed; the exit code of the process.
  int Run();

  void Fetch(ConsoleFields& fields) override;
  void Show(const ConsoleFields& fields) override;
  void Enable(ConsoleButton button, bool on) override;
  void Message(const std::string& text) override;
  bool ChooseFile(std::string& path) override;
  void FocusSerialNumber() override;

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool OnInitDialog();
  void OnCommand(int id, int notification);
  void ShowAbout();
  // Runs one console operation with the wait cursor and the pump, then ends
  // the dialog if the operator asked for that meanwhile.
  template <typename Operation>
  void Busy(Operation operation);
  void Close();

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  ConsoleState state_;
  Win32ProgressSink progress_;
  Win32LinkPump pump_{state_.closeRequested};
};

// The exe's own name without folder and extension: every message box's caption.
std::wstring ExeName();
