#include "cli/platform/cli_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
constexpr mode_t kLogFileMode = 0644;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

Utf8ConsoleOutput::Utf8ConsoleOutput() = default;  // a terminal shows the bytes in its own locale
Utf8ConsoleOutput::~Utf8ConsoleOutput() = default;


int OpenAppendFile(const std::string& path) {
  // O_NONBLOCK: a FIFO put in the file's place fails at once instead of
  // waiting for a reader; whatever opened is then told by its type.
  const int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK;
  int fd = ::open(path.c_str(), O_RDWR | flags, kLogFileMode);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | flags, kLogFileMode);  // append, not read
  if (fd < 0) return fd;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool EndsMidLine(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) return false;
  char last = '\n';
  return ::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n';
}

std::string AppendText(int fd, const std::string& text) {
  ssize_t wrote;
  do {
    wrote = ::write(fd, text.data(), text.size());
  } while (wrote < 0 && errno == EINTR);  // Ctrl+C during the write: the record still goes out
  if (wrote < 0) return std::strerror(errno);
  if (static_cast<std::size_t>(wrote) != text.size()) {
    return "only " + std::to_string(wrote) + " of " + std::to_string(text.size()) + " bytes written";
  }
  return "";
}

void CloseAppendFile(int fd) { ::close(fd); }

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
