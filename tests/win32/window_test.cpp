// tovrin.exe end to end under Wine: the dialog opens, CONNECT and PROGRAM are
// clicked at the positions the dialog table gives them, converted with the
// dialog's own base units, and the message box's text is read back; a second
// run is ended by closing the window. The board is the simulated one, in this
// process, on its fixed address: scripts/test-windows runs the Wine session in
// a private namespace that holds it, with a virtual display.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "dialog/dialog_table.h"
#include "dialog/resource.h"
#include "vocabulary/vocabulary.h"
#include "tests/support/board_runs.h"
#include "tests/support/sim_helpers.h"
#include "win32/dialog_builder.h"

namespace {

constexpr int kPollMs = 50;
constexpr int kOpenPolls = 400;      // 20 s for Wine to start the window
constexpr int kOperationPolls = 600;  // 30 s for Connect or a full Program

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The build's path to tovrin.exe is the build machine's; Wine sees its root as Z:.
std::wstring WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) c = c == '/' ? '\\' : c;
  return Wide(path);
}

std::string Text(HWND window) {
  wchar_t buffer[1024] = {};
  SendMessageW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer));
  std::string text;
  for (const wchar_t* c = buffer; *c; ++c) text += static_cast<char>(*c);
  return text;
}

const ControlTemplate& Entry(int id) {
  for (const ControlTemplate& c : MainDialogTemplate().controls) {
    if (c.id == id) return c;
  }
  ADD_FAILURE() << "no control " << id;
  return MainDialogTemplate().controls.front();
}

INT_PTR CALLBACK Inert(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// MapDialogRect converts only for a dialog of the calling process, so the units
// come from a hidden twin made here from the same table by the same builder:
// the system computes its base units from its font exactly as for the window.
class DialogUnits {
 public:
  DialogUnits() {
    const std::vector<WORD> form = BuildDialogTemplate(MainDialogTemplate(), WS_POPUP | WS_CAPTION | WS_SYSMENU);
    twin_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(form.data()),
                                       nullptr, Inert, 0);
  }
  ~DialogUnits() { DestroyWindow(twin_); }
  bool Map(RECT& r) const { return twin_ != nullptr && MapDialogRect(twin_, &r); }

 private:
  HWND twin_ = nullptr;
};

// The control at the centre of the table's rectangle for id, found by position
// alone: the layout itself is under test, not only the identifiers.
HWND ControlAt(HWND dialog, int id, POINT& inside) {
  static const DialogUnits units;
  const DluRect& u = Entry(id).units;
  RECT r{u.x, u.y, u.x + u.width, u.y + u.height};
  if (!units.Map(r)) ADD_FAILURE() << "no base units";
  POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  HWND control = ChildWindowFromPointEx(dialog, centre, CWP_SKIPINVISIBLE);
  inside = centre;
  MapWindowPoints(dialog, control, &inside, 1);
  return control;
}

void Click(HWND dialog, int id) {
  POINT at{};
  HWND button = ControlAt(dialog, id, at);
  ASSERT_EQ(GetDlgCtrlID(button), id) << "the table's rectangle for " << id << " holds another control, at "
                                      << at.x << "," << at.y;
  const LPARAM where = MAKELPARAM(at.x, at.y);
  PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, where);
  PostMessageW(button, WM_LBUTTONUP, 0, where);
}

struct Found {
  DWORD process;
  HWND box = nullptr;
};

// A message box of the tool's process: a dialog-class window captioned "tovrin".
HWND MessageBoxOf(DWORD process) {
  Found found{process};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* f = reinterpret_cast<Found*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        wchar_t cls[32] = {};
        GetClassNameW(w, cls, 32);
        if (owner == f->process && std::wstring(cls) == L"#32770" && IsWindowVisible(w)) {
          wchar_t caption[64] = {};
          GetWindowTextW(w, caption, 64);
          if (std::wstring(caption) == L"tovrin") {
            f->box = w;
            return FALSE;
          }
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.box;
}

// The message box's text: its static control that carries text.
std::string MessageText(HWND box) {
  std::string text;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (_wcsicmp(cls, L"Static") == 0 && !Text(child).empty()) text = Text(child);
  }
  return text;
}

std::string WaitForMessage(DWORD process) {
  for (int i = 0; i < kOperationPolls; ++i) {
    if (HWND box = MessageBoxOf(process)) {
      const std::string text = MessageText(box);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      return text;
    }
    Sleep(kPollMs);
  }
  return "(no message box)";
}

// Saves the window as the screen shows it, frame included, as a 24-bit BMP.
void SaveWindowBitmap(HWND window, const char* path) {
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info{sizeof info, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  const DWORD rowBytes = static_cast<DWORD>((w * 3 + 3) & ~3);
  std::vector<char> pixels(rowBytes * static_cast<DWORD>(h));
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof info + pixels.size()), 0, 0,
                        sizeof(BITMAPFILEHEADER) + sizeof info};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

struct Process {
  PROCESS_INFORMATION info{};
  ~Process() {
    if (info.hProcess == nullptr) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
};

}  // namespace

TEST(WindowTest, ConnectAndProgramThroughClicksAtTableDialogUnits) {
  SimBoard sim;
  SimOptions options = UdpBoard();
  options.bindAddress = "192.168.167.100";
  START_SIM(sim, options);

  const Runs runs{{0x0, Pattern(0x400, 1)}, {0x800, Pattern(0x1F000, 2)}};
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "window_test.S19";
  std::ofstream(file) << S19(runs);

  // Standard output goes to a file, as with "tovrin > log": the window's
  // diagnostics must arrive there although it is not a console program.
  const std::filesystem::path logPath = std::filesystem::temp_directory_path() / "window_test.log";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE log = CreateFileW(logPath.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(log, INVALID_HANDLE_VALUE);
  Process tool;
  std::wstring command = L"\"" + WindowsPath(TOVRIN_WINDOW_EXE) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = log;
  startup.hStdError = log;
  const BOOL created =
      CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &tool.info);
  CloseHandle(log);
  ASSERT_TRUE(created) << GetLastError();
  WaitForInputIdle(tool.info.hProcess, 20000);

  const std::wstring caption = Wide(MainDialogTemplate().caption);
  HWND dialog = nullptr;
  for (int i = 0; i < kOpenPolls && !dialog; ++i, Sleep(kPollMs)) dialog = FindWindowW(L"#32770", caption.c_str());
  ASSERT_NE(dialog, nullptr) << "the window did not open";

  const ULONGLONG opened = GetTickCount64();
  ASSERT_NO_FATAL_FAILURE(Click(dialog, IDC_CONNECT));
  HWND commType = GetDlgItem(dialog, IDC_COMMTYPE);
  for (int i = 0; i < kOperationPolls && Text(commType).empty() && !MessageBoxOf(tool.info.dwProcessId); ++i) {
    Sleep(kPollMs);
  }
  ASSERT_EQ(Text(commType), "UDP") << "Connect failed: " << WaitForMessage(tool.info.dwProcessId);
  EXPECT_EQ(Text(GetDlgItem(dialog, IDC_HARDWARE)), "VR32");

  POINT at{};
  HWND fileName = ControlAt(dialog, IDC_FILENAME, at);
  ASSERT_EQ(GetDlgCtrlID(fileName), IDC_FILENAME);
  SendMessageW(fileName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.wstring().c_str()));
  const std::string serial = Text(GetDlgItem(dialog, IDC_SERIAL));
  const std::string revision = Text(GetDlgItem(dialog, IDC_REV));
  ASSERT_EQ(revision.size(), 1u);

  if (const char* shot = std::getenv("TOVRIN_WINDOW_SCREENSHOT")) {
    SetForegroundWindow(dialog);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(500);
    SaveWindowBitmap(dialog, shot);
  }

  const ULONGLONG connected = GetTickCount64();
  ASSERT_NO_FATAL_FAILURE(Click(dialog, IDC_PROGRAM));
  EXPECT_EQ(WaitForMessage(tool.info.dwProcessId), ProgramResultMessage(kProgramDone));
  std::printf("connect and fill in: %llu ms, program: %llu ms\n", connected - opened, GetTickCount64() - connected);
  EXPECT_EQ(sim.Flash(), Expected(runs, serial, revision[0]));

  // Every run ends the connection. Then a second run, closed by the operator
  // once the bar moves: the window must still take the close while frames go
  // out, and the run ends at the next exchange with its own message.
  for (int i = 0; i < kOperationPolls && !Text(commType).empty(); ++i) Sleep(kPollMs);
  EXPECT_EQ(Text(commType), "");
  ASSERT_NO_FATAL_FAILURE(Click(dialog, IDC_CONNECT));
  for (int i = 0; i < kOperationPolls && Text(commType).empty(); ++i) Sleep(kPollMs);
  ASSERT_EQ(Text(commType), "UDP");
  ASSERT_NO_FATAL_FAILURE(Click(dialog, IDC_PROGRAM));
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
  for (int i = 0; i < kOperationPolls && SendMessageW(bar, PBM_GETPOS, 0, 0) == 0; ++i) Sleep(kPollMs);
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForMessage(tool.info.dwProcessId), ProgramResultMessage(kProgramInterrupted));
  ASSERT_EQ(WaitForSingleObject(tool.info.hProcess, 10000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeProcess(tool.info.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 0u);
  std::stringstream diagnostics;
  diagnostics << std::ifstream(logPath).rdbuf();
  EXPECT_NE(diagnostics.str().find("Program Flash"), std::string::npos) << diagnostics.str();
  // Wine may hold the log a moment after the window's process has gone.
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  std::filesystem::remove(logPath, ignored);
}
