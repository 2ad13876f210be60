#include "os/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "os/system_text.h"

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

Utf8ConsoleOutput::Utf8ConsoleOutput() {
  DWORD mode = 0;
  const bool console = ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0 ||
                       ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  const UINT previous = ::GetConsoleOutputCP();
  if (console && previous != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) previousCodePage_ = previous;
}

Utf8ConsoleOutput::~Utf8ConsoleOutput() {
  std::fflush(stdout);
  std::fflush(stderr);
  if (previousCodePage_ != 0) ::SetConsoleOutputCP(previousCodePage_);
}

void UseBinaryStandardInput() { ::_setmode(::_fileno(stdin), _O_BINARY); }

bool IsTerminal(std::FILE* stream) {
  // _isatty holds for any character device, NUL included; a console is what
  // redraws a line on '\r'.
  const int fd = ::_fileno(stream);
  if (fd < 0) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

// mingw-w64's headers may lack it; the value is the system's.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

bool EnableCursorMovement(std::FILE* stream) {
  // Consoles before Windows 10 refuse the mode, and get plain lines instead.
  const int fd = ::_fileno(stream);
  if (fd < 0) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0 &&
         ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
