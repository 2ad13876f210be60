// tovrin.exe end to end under Wine: the dialog opens, CONNECT and PROGRAM are
// clicked at the positions the dialog table gives them, converted with the
// dialog's own base units, and the message box's text is read back. The file
// lies in a folder named in Cyrillic and is typed into the File Name field or
// chosen with "..."; an identity no text carries (a blank board, a byte above
// 0x7F) is shown and written back as it came; and the window is closed as the
// desktop closes it (WM_CLOSE) during Program, during a failing Connect and
// while the last message is open. The board is the simulated one, in this
// process, on its fixed address: scripts/test-windows runs the Wine session in
// a private namespace that holds it, with a virtual display.

#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <algorithm>
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

// A control's text as the window shows it, UTF-16, compared as such: the
// window's own conversions are what is under test.
std::wstring Text(HWND window) {
  wchar_t buffer[1024] = {};
  SendMessageW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer));
  return buffer;
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
std::wstring MessageText(HWND box) {
  std::wstring text;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (_wcsicmp(cls, L"Static") == 0 && !Text(child).empty()) text = Text(child);
  }
  return text;
}

HWND WaitForMessageBox(DWORD process) {
  for (int i = 0; i < kOperationPolls; ++i, Sleep(kPollMs)) {
    if (HWND box = MessageBoxOf(process)) return box;
  }
  return nullptr;
}

// The text of the next message box, answered with OK.
std::wstring WaitForMessage(DWORD process) {
  HWND box = WaitForMessageBox(process);
  if (box == nullptr) return L"(no message box)";
  const std::wstring text = MessageText(box);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return text;
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


// tovrin.exe as a user starts it, its standard output going to a file, as with
// "tovrin > log": the window's diagnostics must arrive there although it is not
// a console program. Killed if still running when the test ends.
class ToolWindow {
 public:
  // A log of its own for each window: Wine may still hold the last one's a
  // moment after that window's process has gone.
  ToolWindow()
      : logPath_(std::filesystem::temp_directory_path() /
                 ("window_test_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++opened_) + ".log")) {}
  ~ToolWindow() {
    if (info_.hProcess == nullptr) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
    // Wine may hold the log a moment after the window's process has gone.
    std::error_code ignored;
    std::filesystem::remove(logPath_, ignored);
  }
  ToolWindow(const ToolWindow&) = delete;
  ToolWindow& operator=(const ToolWindow&) = delete;

  // Starts the exe and waits for its dialog; fails the test when it does not open.
  void Open() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE log = CreateFileW(logPath_.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(log, INVALID_HANDLE_VALUE);
    std::wstring command = L"\"" + WindowsPath(TOVRIN_WINDOW_EXE) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = log;
    startup.hStdError = log;
    const BOOL created =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info_);
    CloseHandle(log);
    ASSERT_TRUE(created) << GetLastError();
    WaitForInputIdle(info_.hProcess, 20000);
    const std::wstring caption = Wide(MainDialogTemplate().caption);
    for (int i = 0; i < kOpenPolls && !dialog; ++i, Sleep(kPollMs)) dialog = FindWindowW(L"#32770", caption.c_str());
    ASSERT_NE(dialog, nullptr) << "the window did not open";
  }

  DWORD Process() const { return info_.dwProcessId; }
  std::wstring Field(int id) const { return Text(GetDlgItem(dialog, id)); }

  // CONNECT clicked; true once the link type shows, otherwise the message says why.
  bool Connect(std::wstring& why) {
    Click(dialog, IDC_CONNECT);
    for (int i = 0; i < kOperationPolls && Field(IDC_COMMTYPE).empty() && !MessageBoxOf(Process()); ++i) {
      Sleep(kPollMs);
    }
    if (Field(IDC_COMMTYPE) == L"UDP") return true;
    why = WaitForMessage(Process());
    return false;
  }
  // Every run ends the connection: the link type goes.
  bool WaitDisconnected() {
    for (int i = 0; i < kOperationPolls && !Field(IDC_COMMTYPE).empty(); ++i) Sleep(kPollMs);
    return Field(IDC_COMMTYPE).empty();
  }
  // Typed into the File Name field, found by its place in the table.
  void TypeFileName(const std::filesystem::path& file) {
    POINT at{};
    HWND fileName = ControlAt(dialog, IDC_FILENAME, at);
    ASSERT_EQ(GetDlgCtrlID(fileName), IDC_FILENAME);
    SendMessageW(fileName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.wstring().c_str()));
  }
  // Chosen with "...": the file name typed into the open-file dialog's own
  // field (cmb13, an editable combo box) and confirmed.
  bool ChooseFileName(const std::filesystem::path& file) {
    Click(dialog, IDC_BROWSE);
    HWND chooser = nullptr;
    for (int i = 0; i < kOperationPolls && !chooser; ++i, Sleep(kPollMs)) {
      HWND w = FindWindowW(L"#32770", L"Open");
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (w != nullptr && owner == Process() && GetDlgItem(w, cmb13) != nullptr) chooser = w;
    }
    if (chooser == nullptr) return false;
    SetDlgItemTextW(chooser, cmb13, file.wstring().c_str());
    PostMessageW(chooser, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < kOperationPolls && Field(IDC_FILENAME) != file.wstring(); ++i) Sleep(kPollMs);
    return Field(IDC_FILENAME) == file.wstring();
  }
  // True when the process ended by itself, with exit code 0, within ten seconds.
  bool Exited() {
    if (WaitForSingleObject(info_.hProcess, 10000) != WAIT_OBJECT_0) return false;
    DWORD exitCode = 1;
    GetExitCodeProcess(info_.hProcess, &exitCode);
    return exitCode == 0;
  }
  std::string Diagnostics() const {
    std::stringstream text;
    text << std::ifstream(logPath_).rdbuf();
    return text.str();
  }

  HWND dialog = nullptr;

 private:
  std::filesystem::path logPath_;
  PROCESS_INFORMATION info_{};
  static inline int opened_ = 0;
};

std::wstring ResultText(int result) { return Wide(ProgramResultMessage(result)); }

SimOptions BoardOnItsAddress() {
  SimOptions options = UdpBoard();
  options.bindAddress = "192.168.167.100";
  return options;
}

// A folder named in Cyrillic, and in it the file, removed when the test ends.
class CyrillicFolder {
 public:
  CyrillicFolder() : dir_(std::filesystem::temp_directory_path() / L"\x041F\x0440\x043E\x0448\x0438\x0432\x043A\x0430") {
    std::filesystem::create_directories(dir_);
  }
  ~CyrillicFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::filesystem::path Write(const std::string& text) const {
    const std::filesystem::path file = dir_ / "window_test.S19";
    std::ofstream(file, std::ios::binary) << text;  // a wide name: _wfopen underneath
    return file;
  }

 private:
  std::filesystem::path dir_;
};

}  // namespace

TEST(WindowTest, ConnectAndProgramThroughClicksAtTableDialogUnits) {
  SimBoard sim;
  START_SIM(sim, BoardOnItsAddress());
  const Runs runs{{0x0, Pattern(0x400, 1)}, {0x800, Pattern(0x1F000, 2)}};
  const CyrillicFolder folder;
  const std::filesystem::path file = folder.Write(S19(runs));

  ToolWindow window;
  ASSERT_NO_FATAL_FAILURE(window.Open());
  const ULONGLONG opened = GetTickCount64();
  std::wstring why;
  ASSERT_TRUE(window.Connect(why)) << "Connect failed: " << Narrow(why);
  EXPECT_EQ(window.Field(IDC_HARDWARE), L"VR32");
  ASSERT_NO_FATAL_FAILURE(window.TypeFileName(file));
  const std::wstring serial = window.Field(IDC_SERIAL);
  const std::wstring revision = window.Field(IDC_REV);
  ASSERT_EQ(revision.size(), 1u);

  if (const char* shot = std::getenv("TOVRIN_WINDOW_SCREENSHOT")) {
    SetForegroundWindow(window.dialog);
    RedrawWindow(window.dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(500);
    SaveWindowBitmap(window.dialog, shot);
  }

  const ULONGLONG connected = GetTickCount64();
  ASSERT_NO_FATAL_FAILURE(Click(window.dialog, IDC_PROGRAM));
  EXPECT_EQ(WaitForMessage(window.Process()), ResultText(kProgramDone));
  std::printf("connect and fill in: %llu ms, program: %llu ms\n", connected - opened, GetTickCount64() - connected);
  EXPECT_EQ(sim.Flash(), Expected(runs, std::string(serial.begin(), serial.end()), static_cast<char>(revision[0])));

  // Then a second run, closed by the desktop once the bar moves: the window
  // must still take the close while frames go out, and the run ends at the
  // next exchange with its own message, unlocked.
  EXPECT_TRUE(window.WaitDisconnected());
  ASSERT_TRUE(window.Connect(why)) << Narrow(why);
  ASSERT_NO_FATAL_FAILURE(Click(window.dialog, IDC_PROGRAM));
  HWND bar = GetDlgItem(window.dialog, IDC_PROGRESS);
  for (int i = 0; i < kOperationPolls && SendMessageW(bar, PBM_GETPOS, 0, 0) == 0; ++i) Sleep(kPollMs);
  PostMessageW(window.dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForMessage(window.Process()), ResultText(kProgramInterrupted));
  EXPECT_TRUE(window.Exited());
  EXPECT_FALSE(sim.Locked()) << "the interrupted run locked the board";
  const std::string diagnostics = window.Diagnostics();
  EXPECT_NE(diagnostics.find("Program Flash"), std::string::npos) << diagnostics;
}

// Programmed without edits, the identity goes back byte for byte: each byte is
// shown as the character of that number and written back as that one byte. The
// file carries the record's bytes after the serial number's NUL, which the
// stamp leaves to it. The last message is answered only after the desktop has
// asked the window to close, which it does then.
TEST(WindowTest, UneditedIdentityIsShownAndWrittenBackByteForByte) {
  const struct Case {
    const char* name;
    std::string record;
    std::wstring revision;
    std::wstring serial;
  } cases[] = {
      {"blank board", kBlankIdentity, L"\x00FF", std::wstring(15, L'\x00FF')},
      {"0xE9 in the serial number", kAccentedIdentity, L"B", L"SN\x00E9" L"001"},
  };
  ToolWindow window;
  ASSERT_NO_FATAL_FAILURE(window.Open());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions options = BoardOnItsAddress();
    options.identityRecord = c.record;
    SimBoard sim;
    START_SIM(sim, options);
    const Runs runs{{0x0, Pattern(0x400, 3)}, {0x429, Bytes(c.record.begin() + 9, c.record.end())}};
    const CyrillicFolder folder;
    const std::filesystem::path file = folder.Write(S19(runs));

    std::wstring why;
    ASSERT_TRUE(window.Connect(why)) << Narrow(why);
    EXPECT_EQ(window.Field(IDC_REV), c.revision);
    EXPECT_EQ(window.Field(IDC_SERIAL), c.serial);
    EXPECT_TRUE(window.ChooseFileName(file)) << "shown: " << Narrow(window.Field(IDC_FILENAME));
    ASSERT_NO_FATAL_FAILURE(Click(window.dialog, IDC_PROGRAM));
    HWND box = WaitForMessageBox(window.Process());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageText(box), ResultText(kProgramDone));
    const bool last = &c == &cases[std::size(cases) - 1];
    if (last) {
      PostMessageW(window.dialog, WM_CLOSE, 0, 0);
      Sleep(200);
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);

    std::vector<std::uint8_t> expected(0x20000, 0xFF);
    std::copy(runs.at(0).begin(), runs.at(0).end(), expected.begin());
    std::copy(c.record.begin(), c.record.end(), expected.begin() + 0x420);
    EXPECT_EQ(sim.Flash(), expected);
    if (!last) {
      EXPECT_TRUE(window.WaitDisconnected());
    }
  }
  EXPECT_TRUE(window.Exited()) << "the window stayed open after the close";
}

// A Connect runs to its end (its waits are bounded) and says why it failed;
// then the window closes. Nothing answers: under Wine the UDP probes take their
// six seconds, then TCP is refused at once.
TEST(WindowTest, CloseDuringAFailingConnectClosesAfterItsMessage) {
  ToolWindow window;
  ASSERT_NO_FATAL_FAILURE(window.Open());
  ASSERT_NO_FATAL_FAILURE(Click(window.dialog, IDC_CONNECT));
  Sleep(1000);
  ASSERT_EQ(MessageBoxOf(window.Process()), nullptr) << "the Connect ended early";
  PostMessageW(window.dialog, WM_CLOSE, 0, 0);
  const std::wstring text = WaitForMessage(window.Process());
  EXPECT_EQ(text.rfind(L"Failed to connection to the Varnel board. Error = ", 0), 0u) << Narrow(text);
  EXPECT_TRUE(window.Exited()) << "the window stayed open after the close";
}
