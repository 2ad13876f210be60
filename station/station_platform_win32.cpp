#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "common/system_text.h"
#include "station/station_platform.h"

namespace {

namespace platform_const {
constexpr int kLockPollMs = 10;  // between two tries of a lock another station holds
constexpr DWORD kReadChunk = 4096;
}  // namespace platform_const

struct Handle {
  explicit Handle(HANDLE value) : h(value) {}
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE h;
};

bool Fail(std::string& error, const std::string& what) {
  error = what + ": error " + std::to_string(GetLastError());
  return false;
}

// The temporary file of a replacement that failed: removed, so nothing is left
// beside the file (a FILE.tmp after a failed dump would look like a dump).
struct RemovedUnlessRenamed {
  std::string path;
  bool created = false;
  ~RemovedUnlessRenamed() {
    if (created) DeleteFileW(WideFromUtf8(path).c_str());
  }
};

}  // namespace

// MOVEFILE_WRITE_THROUGH returns only once the rename is on the disk, which is
// what the directory's fsync gives elsewhere.
bool ReplaceFileDurably(const std::string& path, const std::string& content, std::string& error) {
  const std::string temporary = path + ".tmp";
  RemovedUnlessRenamed leftover{temporary};
  {
    Handle file(CreateFileW(WideFromUtf8(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (file.h == INVALID_HANDLE_VALUE) return Fail(error, "cannot create " + temporary);
    leftover.created = true;
    DWORD written = 0;
    if (!WriteFile(file.h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
        written != content.size()) {
      return Fail(error, "cannot write " + temporary);
    }
    if (!FlushFileBuffers(file.h)) return Fail(error, "cannot flush " + temporary);
  }
  if (!MoveFileExW(WideFromUtf8(temporary).c_str(), WideFromUtf8(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Fail(error, "cannot rename " + temporary);
  }
  leftover.created = false;
  return true;
}

SmallRead ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& reason) {
  const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    reason = "a folder, not a file";
    return SmallRead::kFailed;
  }
  Handle file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return SmallRead::kMissing;
    reason = "error " + std::to_string(code);
    return SmallRead::kFailed;
  }
  if (GetFileType(file.h) != FILE_TYPE_DISK) {
    reason = "not a regular file";
    return SmallRead::kFailed;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.h, &size)) {
    reason = "error " + std::to_string(GetLastError());
    return SmallRead::kFailed;
  }
  if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    reason = "larger than " + std::to_string(maxBytes) + " bytes";
    return SmallRead::kFailed;
  }
  bytes.clear();
  char chunk[platform_const::kReadChunk];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.h, chunk, sizeof chunk, &n, nullptr)) {
      reason = "error " + std::to_string(GetLastError());
      return SmallRead::kFailed;
    }
    if (n == 0) return SmallRead::kRead;
    if (bytes.size() + n > maxBytes) {
      reason = "larger than " + std::to_string(maxBytes) + " bytes";
      return SmallRead::kFailed;
    }
    bytes.append(chunk, n);
  }
}

FileLock::~FileLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));  // closing lets go of the lock
}

bool FileLock::Acquire(const std::string& path, int waitMs, std::string& error) {
  HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail(error, "cannot open the lock file " + path);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    OVERLAPPED at{};
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &at)) {
      handle_ = reinterpret_cast<std::intptr_t>(h);
      return true;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) {
      Fail(error, "cannot lock " + path);
      CloseHandle(h);
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      error = "another process has held the lock " + path + " for over " + std::to_string(waitMs) + " ms";
      CloseHandle(h);
      return false;
    }
    PauseMs(platform_const::kLockPollMs);
  }
}

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;  // characters
  return GetComputerNameW(name, &size) ? Utf8FromWide(std::wstring_view(name, size)) : std::string("unknown");
}

std::string UserName() {
  wchar_t name[256] = {};
  DWORD size = 256;  // characters
  return GetUserNameW(name, &size) ? Utf8FromWide(name) : std::string("unknown");
}

std::string UtcNowText() {
  SYSTEMTIME t{};
  GetSystemTime(&t);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds);
  return text;
}

void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
