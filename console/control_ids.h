#pragma once

// Identifiers of the main window's controls, shared by the console logic (which
// switches buttons by id) and the window that lays them out.
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
