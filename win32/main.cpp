#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "win32/tovrin_window.h"

namespace {

// A window exe has no console of its own. Diagnostics go where standard output
// already leads (a file or pipe the starter gave it), or else to the console of
// the command prompt it was started from; started from the desktop they go
// nowhere.
void ConnectStandardOutput() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const bool inherited = out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN;
  if (!inherited && AttachConsole(ATTACH_PARENT_PROCESS)) {
    std::freopen("CONOUT$", "w", stdout);
  }
  // The window may be killed mid-run; each line must already be out.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  ConnectStandardOutput();
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  TovrinWindow window(instance);
  return window.Run();
}
