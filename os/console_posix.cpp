#include "os/console.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

Utf8ConsoleOutput::Utf8ConsoleOutput() = default;  // a terminal shows the bytes in its own locale
Utf8ConsoleOutput::~Utf8ConsoleOutput() = default;

void UseBinaryStandardInput() {}  // POSIX streams translate nothing

bool IsTerminal(std::FILE* stream) {
  const int fd = ::fileno(stream);
  return fd >= 0 && ::isatty(fd);
}

bool EnableCursorMovement(std::FILE* stream) {
  // A terminal that cannot move the cursor says so in TERM.
  const char* term = std::getenv("TERM");
  return IsTerminal(stream) && term != nullptr && std::strcmp(term, "dumb") != 0;
}
