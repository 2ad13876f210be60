#pragma once

// Identifiers of the window's templates, strings, icon and menu command, and
// the version record, shared by every window.

#include "dialog/control_ids.h"

enum ResourceId : int {
  IDD_ABOUTBOX = 100,
  IDS_ABOUTBOX = 101,
  IDD_MAIN = 102,
  IDR_MAINFRAME = 128,
};

// The About entry's command, in the range of system-menu commands: the low four
// bits are the window system's own and are ignored when it is matched.
constexpr int IDM_ABOUTBOX = 0x0010;

// The string table.
constexpr const char* kAboutMenuText = "&About Tovrin...";  // IDS_ABOUTBOX

// The version record, carried as the application's version and as properties
// of the application object (language 0x0409, code page 1200).
namespace version_info {
constexpr const char* kVersion = "1.0.0.1";  // file and product version
struct Entry {
  const char* key;
  const char* value;
};
constexpr Entry kStrings[] = {
    {"FileDescription", "Tovrin MFC Application"},
    {"FileVersion", "1, 0, 0, 1"},
    {"InternalName", "Tovrin"},
    {"OriginalFilename", "Tovrin.EXE"},
    {"ProductName", "Tovrin Application"},
    {"ProductVersion", "1, 0, 0, 1"},
};
constexpr int kLanguage = 0x0409;
constexpr int kCodePage = 1200;
}  // namespace version_info
