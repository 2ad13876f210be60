#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "os/files.h"
#include "os/handle.h"
#include "os/host.h"
#include "os/system_text.h"

namespace {

namespace files_const {
constexpr DWORD kChunkBytes = 64 * 1024;
constexpr int kLockPollMs = 10;  // between two tries of a lock another station holds
constexpr std::size_t kMiB = std::size_t{1} << 20;
}  // namespace files_const

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

// The C library's words for the failures a user can mend, so a message reads
// the same on every system ("No such file or directory").
std::string Reason(DWORD error) {
  const int code = ErrnoFrom(error);
  return code == EIO ? "system error " + std::to_string(error) : std::string(std::strerror(code));
}

FileBytes Failed(FileReadStatus status, std::string reason) {
  FileBytes read;
  read.status = status;
  read.reason = std::move(reason);
  return read;
}

std::string TooLarge(std::size_t maxBytes) {
  if (maxBytes % files_const::kMiB == 0) return "larger than " + std::to_string(maxBytes / files_const::kMiB) + " MiB";
  return "larger than " + std::to_string(maxBytes) + " bytes";
}

FileBytes ReadAll(HANDLE handle, std::size_t maxBytes) {
  FileBytes read;
  char chunk[files_const::kChunkBytes];
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

FileBytes NotOpened(DWORD error) {
  // Only a missing file is "nothing yet"; a missing folder is a mistake in the name.
  return Failed(error == ERROR_FILE_NOT_FOUND ? FileReadStatus::kMissing : FileReadStatus::kNotOpened, Reason(error));
}

bool Fail(std::string& error, const std::string& what) {
  error = what + ": error " + std::to_string(::GetLastError());
  return false;
}

// The temporary file of a replacement that failed: removed, so nothing is left
// beside the file (a FILE.tmp after a failed dump would look like a dump).
struct RemovedUnlessRenamed {
  std::string path;
  bool created = false;
  ~RemovedUnlessRenamed() {
    if (created) ::DeleteFileW(WideFromUtf8(path).c_str());
  }
};

}  // namespace

FileBytes ReadRegularFile(const std::string& path, std::size_t maxBytes) {
  const std::wstring name = WideFromUtf8(path);
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return NotOpened(::GetLastError());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Failed(FileReadStatus::kNotOpened, "not a regular file: a folder");
  Handle file(::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.h == INVALID_HANDLE_VALUE) return NotOpened(::GetLastError());
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

void RemoveFile(const std::string& path) { ::DeleteFileW(WideFromUtf8(path).c_str()); }

bool RenameOver(const std::string& temporary, const std::string& path) {
  // The C library's rename refuses to replace a file on Windows.
  if (::MoveFileExW(WideFromUtf8(temporary).c_str(), WideFromUtf8(path).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  errno = ErrnoFrom(::GetLastError());
  return false;
}

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

FileLock::~FileLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));  // closing lets go of the lock
}

bool FileLock::Acquire(const std::string& path, int waitMs, std::string& error) {
  Handle file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.h == INVALID_HANDLE_VALUE) return Fail(error, "cannot open the lock file " + path);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    OVERLAPPED at{};
    if (LockFileEx(file.h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &at)) {
      handle_ = reinterpret_cast<std::intptr_t>(file.Release());
      return true;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) return Fail(error, "cannot lock " + path);
    if (std::chrono::steady_clock::now() >= deadline) {
      error = "another process has held the lock " + path + " for over " + std::to_string(waitMs) + " ms";
      return false;
    }
    SleepMs(files_const::kLockPollMs);
  }
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

FolderList FilesEndingIn(const std::string& folder, const std::string& suffix, std::vector<std::string>& paths,
                         std::string& reason) {
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW((WideFromUtf8(folder) + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FolderList::kAbsent;
    reason = "system error " + std::to_string(error);
    return FolderList::kUnreadable;
  }
  // Matched here rather than by the search's pattern, which also takes short
  // 8.3 names and so "*.pem" would find "key.pemx".
  do {
    const std::string name = Utf8FromWide(found.cFileName);
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      paths.push_back(folder + "\\" + name);
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  std::sort(paths.begin(), paths.end());
  return FolderList::kListed;
}

std::string MachineSettingsPath(const std::string& name) {
  const wchar_t* programData = ::_wgetenv(L"ProgramData");
  if (programData == nullptr || *programData == L'\0') return "";
  return Utf8FromWide(programData) + "\\Tovrin\\" + name;
}
