#pragma once

// The few system calls of the station's store, one file per system:
// - replacing a small file so that after a crash or a power cut it holds either
//   the old or the new content, never a mix and never nothing (write a temporary
//   file beside it, flush it to the disk, rename it over the old one, flush the
//   directory that records the rename);
// - reading a small file whole, telling "no such file" apart from every other
//   failure;
// - an exclusive lock on a lock file, which stations sharing a file take
//   around each read-advance-write;
// - the host's and the user's names, and the time of day, for the records.

#include <cstddef>
#include <cstdint>
#include <string>

// False with the reason in error; the old file is then untouched.
bool ReplaceFileDurably(const std::string& path, const std::string& content, std::string& error);

enum class SmallRead {
  kRead,     // bytes hold the whole file
  kMissing,  // no such file (a dangling link included): nothing to read yet
  kFailed,   // anything else, with the reason: not a regular file, no permission, too large, an I/O error
};
// Reads at most maxBytes; a longer file fails without being read whole.
SmallRead ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& reason);

// An exclusive lock on `path` (created when missing), held while the object
// lives. Acquire waits at most waitMs for another holder to let go.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Acquire(const std::string& path, int waitMs, std::string& error);

 private:
  std::intptr_t handle_ = -1;  // a descriptor, or a HANDLE on Windows
};

std::string HostName();
std::string UserName();           // the user the process runs as
std::string UtcNowText();         // 2026-12-07T19:42:33.123Z
void PauseMs(int ms);             // between two tries of a busy lock
