#include <windows.h>
#include <shellapi.h>

#include "common/system_text.h"
#include "station_ui/station_app.h"

namespace station_ui {

bool OpenInBrowser(const std::string& url) {
  const std::wstring wide = WideFromUtf8(url);
  const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  // ShellExecute reports success as a value above 32.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

// The narrow argv has been through the ANSI code page, where a Cyrillic or CJK
// file name does not survive; the wide command line has it whole.
std::vector<std::string> StationArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

}  // namespace station_ui
