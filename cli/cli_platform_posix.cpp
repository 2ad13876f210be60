#include "cli/cli_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace {
constexpr mode_t kLogFileMode = 0644;
}

int OpenAppendFile(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
}

bool AppendText(int fd, const std::string& text) {
  return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void CloseAppendFile(int fd) { ::close(fd); }

bool IsTerminal(std::FILE* stream) {
  const int fd = ::fileno(stream);
  return fd >= 0 && ::isatty(fd);
}

std::tm UtcTime(std::time_t time) {
  std::tm utc{};
  ::gmtime_r(&time, &utc);
  return utc;
}

MemoryStream::MemoryStream() : file_(::open_memstream(&buffer_, &size_)) {}

MemoryStream::~MemoryStream() {
  if (file_ != nullptr) std::fclose(file_);
  std::free(buffer_);
}

std::string MemoryStream::Text() {
  if (file_ == nullptr) return "";
  std::fflush(file_);
  return std::string(buffer_, size_);
}
