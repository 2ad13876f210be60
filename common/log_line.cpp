#include "common/log_line.h"

#include <cstdarg>
#include <string>

namespace {
std::FILE* logStream = nullptr;  // null means standard output, resolved at each call
bool escapeLog = false;

void WriteEscaped(std::FILE* out, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  if (length < 0) return;
  std::string line(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(line.data(), line.size(), format, args);
  line.pop_back();
  const bool endsLine = !line.empty() && line.back() == '\n';
  if (endsLine) line.pop_back();
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte <= 0x7E && c != '\\') {
      std::fputc(c, out);
    } else {
      std::fprintf(out, "\\x%02X", byte);
    }
  }
  if (endsLine) std::fputc('\n', out);
}
}  // namespace

void SetLogStream(std::FILE* stream) { logStream = stream; }

void SetLogEscaping(bool escape) { escapeLog = escape; }

void LogLine(const char* format, ...) {
  std::FILE* out = logStream ? logStream : stdout;
  va_list args;
  va_start(args, format);
  if (escapeLog) {
    WriteEscaped(out, format, args);
  } else {
    std::vfprintf(out, format, args);
  }
  va_end(args);
  // A line that sits in a buffer is no use to someone watching a stuck run.
  std::fflush(out);
}
