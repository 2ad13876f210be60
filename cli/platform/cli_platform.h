#pragma once

// The few system calls tovrin-cli makes beside the core's, one file per system:
// the run log's shared append-only file, the trace's file, the arguments and
// the console's text, whether a stream is a terminal, the time of day in UTC,
// and a stream kept in memory. File names and arguments are UTF-8 on every
// system; Windows gets them through its wide calls.

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// The command's arguments as UTF-8: on POSIX as given; on Windows from the
// system's wide command line, as the narrow argv has been through the ANSI code
// page, where a Cyrillic or CJK name does not survive.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// For its lifetime, text written to a Windows console shows as the UTF-8 it is:
// the console's output code page is switched, and put back afterwards (the
// console outlives the command). Output to a file or a pipe, and everything on
// POSIX, is the bytes as written.
class Utf8ConsoleOutput {
 public:
  Utf8ConsoleOutput();
  ~Utf8ConsoleOutput();
  Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
  Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

 private:
  unsigned previousCodePage_ = 0;  // 0: left as it was
};

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

// Standard input as bytes: on Windows it would otherwise turn CR LF into LF, and
// the hash of what was read would not be the file's.
void UseBinaryStandardInput();

// True when the stream is a terminal (a console on Windows), where a progress
// bar can redraw its line with '\r'.
bool IsTerminal(std::FILE* stream);
// True when the stream is a terminal that takes ANSI cursor movement (a
// Windows console is asked to), where a table can be redrawn in place.
bool EnableCursorMovement(std::FILE* stream);

std::tm UtcTime(std::time_t time);

// A stream whose text can be read back: what a capture of LogLine writes into.
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
