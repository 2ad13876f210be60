#pragma once

// The window during Connect and Program, which run on the window's own thread:
// the link's waits hand the window its paint and window-system events, so it
// never looks hung, while the operator's input is dropped until the operation
// has ended.

#include <QObject>
#include <string>

#include "link/link.h"

class QWidget;

// Set on the window's link: every wait handles the window's events, a close
// request from the desktop among them; the operator's input is dropped by the
// BusyWindow that guards the operation.
// The link's diagnostic lines go to standard output.
class WindowKeepAlive : public LinkObserver {
 public:
  void Idle() override;
  void Diagnostic(const std::string& line) override;
};

// For the length of one operation: a busy cursor, and mouse and keyboard input
// to `window` and its controls dropped, not queued for later. Input still
// queued when the operation ends is taken and dropped before the guard goes, so
// a click made while connecting cannot press PROGRAM once it is enabled. Other
// windows (a message box the operation opens) take input as usual.
class BusyWindow : public QObject {
 public:
  explicit BusyWindow(QWidget& window);
  ~BusyWindow() override;
  BusyWindow(const BusyWindow&) = delete;
  BusyWindow& operator=(const BusyWindow&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& window_;
};
