#pragma once

// What a path names, looked up without opening it for reading or writing: what
// kind of file it is, and which file, so that a command can refuse to write over
// a file it reads (or to write one file for two purposes) before anything is
// opened or sent. One file per system.

#include <cstdint>
#include <string>

enum class PathKind {
  kMissing,  // nothing there yet: a file written there is created
  kRegular,
  kFolder,
  kFifo,
  kDevice,   // a terminal, /dev/null, a disk, NUL or CON on Windows
  kOther,    // a socket, or whatever else the system has
  kUnknown,  // could not be looked up (no access, a file where a folder should be)
};

struct PathFacts {
  PathKind kind = PathKind::kUnknown;
  std::string reason;  // kUnknown: why, in the system's words

  // Which file: an existing one by its volume and file number (POSIX: st_dev,
  // st_ino after following symbolic links; Windows: the volume serial number and
  // file index); a missing one by the folder it would be created in and its name
  // there (lower-cased on Windows, where names ignore case), so two spellings of
  // one new file compare equal. False when neither can be told.
  bool identified = false;
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::string name;  // empty for an existing file
};

PathFacts LookUpPath(const std::string& path);

// True when both are identified and name the same file.
inline bool SameFile(const PathFacts& a, const PathFacts& b) {
  return a.identified && b.identified && a.volume == b.volume && a.index == b.index && a.name == b.name;
}

// "a folder", "a FIFO", "a device", ... for a message.
inline const char* PathKindName(PathKind kind) {
  switch (kind) {
    case PathKind::kMissing: return "missing";
    case PathKind::kRegular: return "a regular file";
    case PathKind::kFolder: return "a folder";
    case PathKind::kFifo: return "a FIFO";
    case PathKind::kDevice: return "a device";
    case PathKind::kOther: return "neither a file nor a folder";
    case PathKind::kUnknown: break;
  }
  return "not known";
}
