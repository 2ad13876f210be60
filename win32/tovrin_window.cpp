#include "win32/tovrin_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include "dialog/dialog_table.h"
#include "dialog/resource.h"
#include "vocabulary/vocabulary.h"
#include "link/link.h"
#include "win32/dialog_builder.h"


namespace {

constexpr int kOctetIds[] = {IDC_OCTET1, IDC_OCTET2, IDC_OCTET3, IDC_OCTET4};
// A dialog with a caption and a system menu but no minimise or maximise box.
constexpr DWORD kMainStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
constexpr DWORD kAboutStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
// The open-file dialog's filter: pairs of shown text and pattern.
constexpr wchar_t kS19Filter[] = L"S19 Files (*.S19)\0*.S19\0All Files(*.*)\0*.*\0";
constexpr DWORD kPathCapacity = 32768;  // characters, the longest path Windows takes
// How often the window answers its messages during an operation, in ms: the
// link's own idle slice, well inside the five seconds after which Windows
// shows a window as not responding.
constexpr unsigned long long kPumpIntervalMs = 50;

bool IsInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

// The operator's ways of closing a window by input: its close box and Alt+F4.
bool AsksToClose(const MSG& m) {
  return (m.message == WM_NCLBUTTONDOWN && m.wParam == HTCLOSE) ||
         (m.message == WM_SYSKEYDOWN && m.wParam == VK_F4);
}

std::wstring ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hwnd, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

std::wstring ExeName() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
  path.resize(n);
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos) path.erase(0, slash + 1);
  const std::size_t dot = path.find_last_of(L'.');
  if (dot != std::wstring::npos) path.erase(dot);
  return path;
}

void Win32ProgressSink::SetRange(std::uint16_t upper) {
  SendMessageW(bar_, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
}

void Win32ProgressSink::SetPosition(int position) { SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0); }

void Win32LinkPump::Trace(const LinkTraceEvent&) {
  if (GetTickCount64() - lastPumpMs_ >= kPumpIntervalMs) Idle();
}

void Win32LinkPump::Idle() {
  lastPumpMs_ = GetTickCount64();
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  MSG m;
  // Bounded: a flood of messages must not keep the link from its exchange.
  for (int i = 0; i < 100 && PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (m.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(m.wParam));
      closeRequested_ = true;
      return;
    }
    if (IsInput(m.message)) {
      if (AsksToClose(m)) closeRequested_ = true;
      continue;
    }
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

TovrinWindow::TovrinWindow(HINSTANCE instance) : instance_(instance) {
  state_.progress = &progress_;
  state_.session.Watch(&pump_);
}

int TovrinWindow::Run() {
  const std::vector<WORD> form = BuildDialogTemplate(MainDialogTemplate(), kMainStyle);
  const INT_PTR result = DialogBoxIndirectParamW(instance_, reinterpret_cast<LPCDLGTEMPLATEW>(form.data()), nullptr,
                                                 Proc, reinterpret_cast<LPARAM>(this));
  OnWindowEnd(state_);
  return result == -1 ? 1 : 0;
}

INT_PTR CALLBACK TovrinWindow::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    reinterpret_cast<TovrinWindow*>(lParam)->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<TovrinWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  return self ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR TovrinWindow::Handle(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      if (!OnInitDialog()) EndDialog(hwnd_, IDCANCEL);
      return TRUE;  // the first tab stop that is enabled gets the focus
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        ShowAbout();
        return TRUE;
      }
      return FALSE;  // move, minimize, close: the system's own handling
    case WM_SETCURSOR:
      if (!state_.busy) return FALSE;
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_CLOSE:
      Close();
      return TRUE;
    default: return FALSE;
  }
}

bool TovrinWindow::OnInitDialog() {
  HICON big = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
  HICON small = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

  if (HMENU system = GetSystemMenu(hwnd_, FALSE)) {
    AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(system, MF_STRING, IDM_ABOUTBOX, Wide(kAboutMenuText).c_str());
  }
  progress_.Bind(GetDlgItem(hwnd_, IDC_PROGRESS));
  SendDlgItemMessageW(hwnd_, IDC_SERIAL, EM_SETLIMITTEXT, kSerialNumberMax, 0);
  return ::OnInitDialog(state_, *this, StartSockets());
}

template <typename Operation>
void TovrinWindow::Busy(Operation operation) {
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  const bool closeNow = RunOperation(state_, operation);
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  if (closeNow) Close();
}

void TovrinWindow::OnCommand(int id, int notification) {
  // A button's command that reaches the window while an operation runs (a
  // message sent from elsewhere) waits for no one: it is dropped.
  if (state_.busy) return;
  switch (id) {
    case IDC_CONNECT: Busy([this] { OnConnect(state_, *this); }); return;
    case IDC_DISCONNECT: OnDisconnect(state_, *this); return;
    case IDC_PROGRAM: Busy([this] { OnProgram(state_, *this); }); return;
    case IDC_BROWSE: OnBrowse(state_, *this); return;
    case IDC_EXIT:
    case IDCANCEL: Close(); return;
    case IDC_OCTET1:
    case IDC_OCTET2:
    case IDC_OCTET3:
    case IDC_OCTET4:
      if (notification == EN_KILLFOCUS) OnOctetKillFocus(state_, *this);
      return;
    default: return;
  }
}

void TovrinWindow::Close() {
  // During an operation the run ends at its next exchange boundary, and the
  // window closes after it.
  if (!RequestClose(state_)) return;
  OnExit(state_, *this);
  EndDialog(hwnd_, IDOK);
}

bool TovrinWindow::ChooseFile(std::string& path) {
  std::wstring name(kPathCapacity, L'\0');
  name.replace(0, 5, L"*.S19");
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = nullptr;  // the file chooser has always been its own window
  ofn.lpstrFilter = kS19Filter;
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = kPathCapacity;
  ofn.lpstrDefExt = L"S19";
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
  if (!GetOpenFileNameW(&ofn)) return false;
  path = Narrow(name.c_str());
  return true;
}

void TovrinWindow::ShowAbout() {
  const std::vector<WORD> form = BuildDialogTemplate(AboutDialogTemplate(), kAboutStyle);
  DialogBoxIndirectParamW(instance_, reinterpret_cast<LPCDLGTEMPLATEW>(form.data()), hwnd_, AboutProc, 0);
}

void TovrinWindow::Fetch(ConsoleFields& fields) {
  fields.revision = Narrow(ControlText(hwnd_, IDC_REV));
  for (int i = 0; i < 4; ++i) fields.octet[i] = Narrow(ControlText(hwnd_, kOctetIds[i]));
  fields.serialNumber = Narrow(ControlText(hwnd_, IDC_SERIAL));
  fields.fileName = Narrow(ControlText(hwnd_, IDC_FILENAME));
  fields.commType = Narrow(ControlText(hwnd_, IDC_COMMTYPE));
  fields.hardware = Narrow(ControlText(hwnd_, IDC_HARDWARE));
}

void TovrinWindow::FocusSerialNumber() { SetFocus(GetDlgItem(hwnd_, IDC_SERIAL)); }

void TovrinWindow::Show(const ConsoleFields& fields) {
  SetDlgItemTextW(hwnd_, IDC_REV, Wide(fields.revision.c_str()).c_str());
  for (int i = 0; i < 4; ++i) SetDlgItemTextW(hwnd_, kOctetIds[i], Wide(fields.octet[i].c_str()).c_str());
  SetDlgItemTextW(hwnd_, IDC_SERIAL, Wide(fields.serialNumber.c_str()).c_str());
  SetDlgItemTextW(hwnd_, IDC_FILENAME, Wide(fields.fileName.c_str()).c_str());
  SetDlgItemTextW(hwnd_, IDC_COMMTYPE, Wide(fields.commType.c_str()).c_str());
  SetDlgItemTextW(hwnd_, IDC_HARDWARE, Wide(fields.hardware.c_str()).c_str());
}

void TovrinWindow::Enable(ConsoleButton button, bool on) { EnableWindow(GetDlgItem(hwnd_, ControlOf(button)), on); }

void TovrinWindow::Message(const std::string& text) {
  MessageBoxW(hwnd_, Wide(text.c_str()).c_str(), ExeName().c_str(), MB_OK);
}
