#pragma once

// The only place that opens files by name. Names are UTF-8 everywhere; Windows
// opens them with its wide calls, so a folder named in Cyrillic or CJK opens as
// any other.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// --- Reading a whole file, with a cap ---------------------------------------

enum class FileReadStatus {
  kRead,
  kMissing,     // no such file (a dangling link included): nothing to read yet
  kNotOpened,   // no access, or not a regular file
  kTooLarge,    // more than the cap asked for
  kReadFailed,  // opened, but reading failed part way
};

struct FileBytes {
  FileReadStatus status = FileReadStatus::kRead;
  std::string reason;  // why not, in a few words: "No such file or directory", "not a regular file: a FIFO"
  std::string bytes;
};

// Reads a whole regular file of at most maxBytes; a longer one fails without
// being read whole. The type is checked before anything is read: a FIFO with no
// writer would block for good, a device such as /dev/zero never ends, and a
// folder cannot be read at all.
FileBytes ReadRegularFile(const std::string& path, std::size_t maxBytes);

// Standard input to its end, as bytes (Windows would turn CR LF into LF), with
// the same cap.
FileBytes ReadStandardInput(std::size_t maxBytes);

// --- Writing ----------------------------------------------------------------

// A file created, or emptied when it exists, for writing bytes: null with errno
// set when it cannot be.
std::FILE* CreateFileForWriting(const std::string& path);
void RemoveFile(const std::string& path);
// Moves temporary over path, replacing the file there in one step; false with
// errno set.
bool RenameOver(const std::string& temporary, const std::string& path);

// Replaces a small file so that after a crash or a power cut it holds either
// the old or the new content, never a mix and never nothing: a temporary file
// beside it, flushed to the disk, renamed over the old one, and the directory
// that records the rename flushed. False with the reason in error; the old file
// is then untouched.
bool ReplaceFileDurably(const std::string& path, const std::string& content, std::string& error);

// An exclusive lock on `path` (created when missing), held while the object
// lives, which stations sharing a file take around each read-advance-write.
// Acquire waits at most waitMs for another holder to let go.
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

// --- A shared append-only file: the run log ---------------------------------

// Opens a regular file for appending only, creating it if missing, shared with
// other writers (and readable where the system allows, for EndsMidLine): a
// descriptor, or -1 with errno set (EINVAL for a FIFO, device or folder, which
// is refused without waiting for a FIFO's reader).
int OpenAppendFile(const std::string& path);
// True when the file has bytes and the last one is not a line end. A file that
// cannot be read is taken as ending well.
bool EndsMidLine(int fd);
// Writes text in one call, so that lines from stations sharing the file do not
// interleave: empty when all of it was written, otherwise why not. A second
// write could land after another station's line, so a short write is not
// completed; the next record then starts on a new line.
std::string AppendText(int fd, const std::string& text);
void CloseAppendFile(int fd);

// --- A stream kept in memory -------------------------------------------------

// A stream whose text can be read back: what a test gives a command to write into.
class MemoryStream {
 public:
  MemoryStream();  // File() is null when the system cannot give one
  ~MemoryStream();
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  std::FILE* File() const { return file_; }
  std::string Text();  // everything written so far

 private:
  std::FILE* file_ = nullptr;
  char* buffer_ = nullptr;  // POSIX: open_memstream keeps the text here
  std::size_t size_ = 0;
};

// --- Folders -------------------------------------------------------------------

enum class FolderList { kListed, kAbsent, kUnreadable };

// The files in `folder` whose names end in `suffix`, sorted, as full paths;
// kAbsent when there is no such folder.
FolderList FilesEndingIn(const std::string& folder, const std::string& suffix, std::vector<std::string>& paths,
                         std::string& reason);

// `name` in the folder the machine's administrators keep Tovrin's settings in,
// for every user: /etc/tovrin/NAME on Linux, %ProgramData%\Tovrin\NAME on
// Windows (empty when ProgramData is not set).
std::string MachineSettingsPath(const std::string& name);
