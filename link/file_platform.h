#pragma once

// The only place in the core that opens files by name, one file per system
// beside the socket calls. Names are UTF-8 everywhere; Windows opens them with its wide
// calls, so a folder named in Cyrillic or CJK opens as any other.

#include <cstddef>
#include <cstdio>
#include <string>

enum class FileReadStatus {
  kRead,
  kNotOpened,   // no such file, no access, or not a regular file
  kTooLarge,    // more than the cap asked for
  kReadFailed,  // opened, but reading failed part way
};

struct FileBytes {
  FileReadStatus status = FileReadStatus::kRead;
  std::string reason;  // why not, in a few words: "No such file or directory", "not a regular file: a FIFO"
  std::string bytes;
};

// Reads a whole regular file of at most maxBytes. The type is checked before
// anything is read: a FIFO with no writer would block for good, a device such as
// /dev/zero never ends, and a folder cannot be read at all.
FileBytes ReadRegularFile(const std::string& path, std::size_t maxBytes);

// Standard input to its end, as bytes (Windows would turn CR LF into LF), with
// the same cap.
FileBytes ReadStandardInput(std::size_t maxBytes);

// A file created, or emptied when it exists, for writing bytes: null with errno
// set when it cannot be.
std::FILE* CreateFileForWriting(const std::string& path);
