#include "cli/platform/cli_platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/system_text.h"

namespace {

// errno for the few failures a user can mend, so the message names the cause.
int ErrnoFrom(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_INVALID_NAME:
      return EINVAL;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

// A CRT descriptor over a system handle, binary, so no byte is translated.
int DescriptorOf(HANDLE handle, int flags) {
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) ::CloseHandle(handle);
  return fd;
}

}  // namespace

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


int OpenAppendFile(const std::string& path) {
  // Append access alone makes the system put every write at the end of the file,
  // whoever else appends to it meanwhile; the CRT's O_APPEND would seek first and
  // then write, and two stations could overwrite each other's line.
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const std::wstring name = WideFromUtf8(path);
  HANDLE handle = ::CreateFileW(name.c_str(), FILE_APPEND_DATA | FILE_READ_DATA, kShare, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // A log we may append to but not read.
    handle = ::CreateFileW(name.c_str(), FILE_APPEND_DATA, kShare, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    errno = ErrnoFrom(::GetLastError());
    return -1;
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {  // NUL, CON, a pipe: nothing a record can be kept in
    ::CloseHandle(handle);
    errno = EINVAL;
    return -1;
  }
  const int fd = DescriptorOf(handle, _O_WRONLY);
  if (fd < 0) errno = EMFILE;
  return fd;
}

bool EndsMidLine(int fd) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  LARGE_INTEGER size{};
  if (handle == INVALID_HANDLE_VALUE || !::GetFileSizeEx(handle, &size) || size.QuadPart == 0) return false;
  OVERLAPPED at{};
  const std::uint64_t last = static_cast<std::uint64_t>(size.QuadPart) - 1;
  at.Offset = static_cast<DWORD>(last);
  at.OffsetHigh = static_cast<DWORD>(last >> 32);
  char byte = '\n';
  DWORD read = 0;
  return ::ReadFile(handle, &byte, 1, &read, &at) && read == 1 && byte != '\n';
}

std::string AppendText(int fd, const std::string& text) {
  const int wrote = ::_write(fd, text.data(), static_cast<unsigned>(text.size()));
  if (wrote < 0) return std::strerror(errno);
  if (static_cast<std::size_t>(wrote) != text.size()) {
    return "only " + std::to_string(wrote) + " of " + std::to_string(text.size()) + " bytes written";
  }
  return "";
}

void CloseAppendFile(int fd) { ::_close(fd); }

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

std::tm UtcTime(std::time_t time) {
  std::tm utc{};
  ::gmtime_s(&utc, &time);
  return utc;
}

// Windows has no memory stream: a temporary file that the system deletes when it
// is closed stands in for one. The C runtime's tmpfile() would want to write to
// the drive's root folder, which a user without rights may not.
MemoryStream::MemoryStream() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH || ::GetTempFileNameW(folder, L"tvc", 0, path) == 0) return;
  const HANDLE handle = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ::DeleteFileW(path);
    return;
  }
  const int fd = DescriptorOf(handle, _O_RDWR);
  if (fd < 0) return;
  file_ = ::_fdopen(fd, "w+b");
  if (file_ == nullptr) ::_close(fd);
}

MemoryStream::~MemoryStream() {
  if (file_ != nullptr) std::fclose(file_);
}

std::string MemoryStream::Text() {
  if (file_ == nullptr) return "";
  std::fflush(file_);
  std::string text;
  if (std::fseek(file_, 0, SEEK_SET) == 0) {
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;) text.append(chunk, n);
  }
  // Writing goes on at the end; a seek must come between reading and writing.
  std::fseek(file_, 0, SEEK_END);
  return text;
}
