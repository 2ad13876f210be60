#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/system_text.h"
#include "link/file_platform.h"

namespace {

constexpr DWORD kChunkBytes = 64 * 1024;

struct Handle {
  explicit Handle(HANDLE value) : h(value) {}
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE h;
};

// The C library's words for the failures a user can mend, so a message reads
// the same on every system ("No such file or directory").
std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return std::strerror(ENOENT);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return std::strerror(EACCES);
    case ERROR_INVALID_NAME: return std::strerror(EINVAL);
    default: return "system error " + std::to_string(error);
  }
}

FileBytes Failed(FileReadStatus status, std::string reason) {
  FileBytes read;
  read.status = status;
  read.reason = std::move(reason);
  return read;
}

std::string TooLarge(std::size_t maxBytes) { return "larger than " + std::to_string(maxBytes >> 20) + " MiB"; }

FileBytes ReadAll(HANDLE handle, std::size_t maxBytes) {
  FileBytes read;
  char chunk[kChunkBytes];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(handle, chunk, sizeof chunk, &n, nullptr)) {
      // A pipe whose writer has gone ends like a file.
      if (::GetLastError() == ERROR_BROKEN_PIPE) return read;
      return Failed(FileReadStatus::kReadFailed, Reason(::GetLastError()));
    }
    if (n == 0) return read;
    if (read.bytes.size() + n > maxBytes) return Failed(FileReadStatus::kTooLarge, TooLarge(maxBytes));
    read.bytes.append(chunk, n);
  }
}

}  // namespace

FileBytes ReadRegularFile(const std::string& path, std::size_t maxBytes) {
  const std::wstring name = WideFromUtf8(path);
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(FileReadStatus::kNotOpened, Reason(::GetLastError()));
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Failed(FileReadStatus::kNotOpened, "not a regular file: a folder");
  Handle file(::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.h == INVALID_HANDLE_VALUE) return Failed(FileReadStatus::kNotOpened, Reason(::GetLastError()));
  const DWORD type = ::GetFileType(file.h);
  if (type != FILE_TYPE_DISK) {
    return Failed(FileReadStatus::kNotOpened,
                  type == FILE_TYPE_PIPE ? "not a regular file: a FIFO" : "not a regular file: a device");
  }
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file.h, &size) && static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    return Failed(FileReadStatus::kTooLarge, TooLarge(maxBytes));
  }
  return ReadAll(file.h, maxBytes);
}

FileBytes ReadStandardInput(std::size_t maxBytes) { return ReadAll(::GetStdHandle(STD_INPUT_HANDLE), maxBytes); }

std::FILE* CreateFileForWriting(const std::string& path) { return ::_wfopen(WideFromUtf8(path).c_str(), L"wb"); }
