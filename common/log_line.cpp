#include "common/log_line.h"

#include <cstdarg>

namespace {
std::FILE* logStream = nullptr;  // null means standard output, resolved at each call
}

void SetLogStream(std::FILE* stream) { logStream = stream; }

void LogLine(const char* format, ...) {
  std::FILE* out = logStream ? logStream : stdout;
  va_list args;
  va_start(args, format);
  std::vfprintf(out, format, args);
  va_end(args);
  // A line that sits in a buffer is no use to someone watching a stuck run.
  std::fflush(out);
}
