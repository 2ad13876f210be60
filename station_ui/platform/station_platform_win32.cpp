#include <windows.h>
#include <shellapi.h>

#include "os/system_text.h"
#include "station_ui/station_app.h"

namespace station_ui {

bool OpenInBrowser(const std::string& url) {
  const std::wstring wide = WideFromUtf8(url);
  const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  // ShellExecute reports success as a value above 32.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace station_ui
