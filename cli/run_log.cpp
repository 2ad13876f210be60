#include "cli/run_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "cli/text_output.h"

namespace {

constexpr mode_t kLogFileMode = 0644;

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// True when the file has bytes and the last one is not a line end. A file we
// may not read is taken as ending well: the record is still written.
bool EndsMidLine(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) return false;
  char last = '\n';
  return ::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n';
}

}  // namespace

int OpenRunLog(const std::string& path) {
  const int flags = O_APPEND | O_CREAT | O_CLOEXEC;
  const int fd = ::open(path.c_str(), O_RDWR | flags, kLogFileMode);
  if (fd >= 0 || errno != EACCES) return fd;
  return ::open(path.c_str(), O_WRONLY | flags, kLogFileMode);  // a log we may append to but not read
}

LogWrite AppendRunLog(int fd, const Json& record) {
  Json line{{"time", UtcNow()}};
  for (const auto& [key, value] : record.items()) line[key] = value;
  std::string text = JsonLine(line) + "\n";
  if (EndsMidLine(fd)) text.insert(text.begin(), '\n');

  LogWrite result;
  ssize_t wrote;
  do {
    wrote = ::write(fd, text.data(), text.size());
  } while (wrote < 0 && errno == EINTR);  // Ctrl+C during the write: the record still goes out
  if (wrote < 0) {
    result.reason = std::strerror(errno);
  } else if (static_cast<std::size_t>(wrote) != text.size()) {
    // A second write could land after another station's record; the line is
    // left unfinished and the next record starts on a new line.
    result.reason = "only " + std::to_string(wrote) + " of " + std::to_string(text.size()) + " bytes written";
  } else {
    result.written = true;
  }
  return result;
}
