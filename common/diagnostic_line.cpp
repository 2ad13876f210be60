#include "common/diagnostic_line.h"

#include <cstdarg>
#include <cstdio>

std::string DiagnosticLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  std::string line;
  if (length >= 0) {
    line.assign(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, args);
    line.pop_back();
  }
  va_end(args);
  return line;
}

std::string EscapedLine(const std::string& text) {
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
