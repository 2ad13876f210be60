#pragma once

// The program's arguments and the console's text, one file per system.
// Arguments are UTF-8 on every system; Windows gets them through its wide
// calls.

#include <cstdio>
#include <string>
#include <vector>

// The program's arguments as UTF-8: on POSIX as given; on Windows from the
// system's wide command line, as the narrow argv has been through the ANSI code
// page, where a Cyrillic or CJK name does not survive.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// For its lifetime, text written to a Windows console shows as the UTF-8 it is:
// the console's output code page is switched, and put back afterwards (the
// console outlives the program). Output to a file or a pipe, and everything on
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

// Standard input as bytes: on Windows it would otherwise turn CR LF into LF, and
// the hash of what was read would not be the file's.
void UseBinaryStandardInput();

// True when the stream is a terminal (a console on Windows), where a progress
// bar can redraw its line with '\r'.
bool IsTerminal(std::FILE* stream);
// True when the stream is a terminal that takes ANSI cursor movement (a
// Windows console is asked to), where a table can be redrawn in place.
bool EnableCursorMovement(std::FILE* stream);
