#pragma once

// What the simulated board asks of the operating system beside its sockets
// (sim_sockets.h, over the shared socket platform), one file per system: the
// stop request (signals on POSIX, the console's Ctrl+C on Windows) and the
// flash file's replacement.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sim {

// The stop requests varnel-sim obeys: SIGINT and SIGTERM on POSIX; Ctrl+C,
// Ctrl+Break and the closing of the console window on Windows. Made before the
// board's thread starts, so that the requests reach WaitFor and not a thread.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Until a stop request arrives or the seconds have passed.
  void WaitFor(int seconds);
};

// File names are UTF-8; Windows opens them through its wide calls, so a folder
// named in Cyrillic or CJK works as any other.
// Creates or empties a file for writing bytes: a stream, or null with errno set.
std::FILE* OpenForWriting(const std::string& path);
void RemoveFile(const std::string& path);
// Moves temporary over path, replacing the file there in one step; false with
// errno set.
bool RenameOver(const std::string& temporary, const std::string& path);

// The program's arguments as UTF-8: on POSIX as given; on Windows from the wide
// command line (the narrow argv has been through the ANSI code page).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// For its lifetime, a Windows console shows the program's UTF-8 text as such
// (its output code page, put back afterwards); elsewhere the bytes go out as
// written.
class Utf8ConsoleOutput {
 public:
  Utf8ConsoleOutput();
  ~Utf8ConsoleOutput();
  Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
  Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

 private:
  unsigned previousCodePage_ = 0;  // 0: left as it was
};

}  // namespace sim
