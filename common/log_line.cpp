#include "common/log_line.h"

#include <cstdarg>
#include <string>

namespace {
std::FILE* logStream = nullptr;  // null means standard output, resolved at each call
bool escapeLog = false;
thread_local LogSink threadLogSink = nullptr;
thread_local void* threadLogContext = nullptr;

std::string Formatted(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  if (length < 0) return "";
  std::string line(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(line.data(), line.size(), format, args);
  line.pop_back();
  return line;
}

std::string Escaped(const std::string& text) {
  std::string line = text;
  const bool endsLine = !line.empty() && line.back() == '\n';
  if (endsLine) line.pop_back();
  std::string escaped;
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte <= 0x7E && c != '\\') {
      escaped += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      escaped += hex;
    }
  }
  if (endsLine) escaped += '\n';
  return escaped;
}
}  // namespace

void SetLogStream(std::FILE* stream) { logStream = stream; }

void SetLogEscaping(bool escape) { escapeLog = escape; }

void SetThreadLogSink(LogSink sink, void* context) {
  threadLogSink = sink;
  threadLogContext = context;
}

void LogLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = Formatted(format, args);
  va_end(args);
  if (escapeLog) line = Escaped(line);
  if (threadLogSink != nullptr) {
    threadLogSink(threadLogContext, line.c_str());
    return;
  }
  // One write per line, so that lines from boards run side by side do not mix.
  std::FILE* out = logStream ? logStream : stdout;
  std::fwrite(line.data(), 1, line.size(), out);
  // A line that sits in a buffer is no use to someone watching a stuck run.
  std::fflush(out);
}
