#pragma once

// The one owner of a system handle for the os/ files: a POSIX descriptor, or a
// Windows HANDLE, closed when the owner goes. Not copyable.

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifdef _WIN32
struct Handle {
  explicit Handle(HANDLE value) : h(value) {}
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  // Gives the handle up, for an owner that keeps it beyond this one.
  HANDLE Release() {
    const HANDLE kept = h;
    h = INVALID_HANDLE_VALUE;
    return kept;
  }
  HANDLE h;
};
#else
struct Fd {
  explicit Fd(int value) : fd(value) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  // Gives the descriptor up, for an owner that keeps it beyond this one.
  int Release() {
    const int kept = fd;
    fd = -1;
    return kept;
  }
  int fd;
};
#endif
