#pragma once

// Identifiers of the main window's controls, shared by every window that lays
// out the dialog table.

#include "console/console.h"

enum ControlId : int {
  IDC_OCTET1 = 1000,
  IDC_OCTET2 = 1001,
  IDC_OCTET3 = 1002,
  IDC_OCTET4 = 1003,
  IDC_REV = 1004,
  IDC_SERIAL = 1005,
  IDC_FILENAME = 1006,
  IDC_BROWSE = 1007,
  IDC_PROGRAM = 1008,
  IDC_EXIT = 1009,
  IDC_CONNECT = 1011,
  IDC_DISCONNECT = 1012,
  IDC_COMMTYPE = 1027,
  IDC_PROGRESS = 1034,
  IDC_HARDWARE = 1036,
};

// The control behind each button the console switches.
constexpr int ControlOf(ConsoleButton button) {
  switch (button) {
    case ConsoleButton::kConnect: return IDC_CONNECT;
    case ConsoleButton::kDisconnect: return IDC_DISCONNECT;
    case ConsoleButton::kProgram: return IDC_PROGRAM;
  }
  return IDC_CONNECT;
}
