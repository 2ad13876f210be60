#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cli/durable_file.h"

namespace {

constexpr mode_t kFileMode = 0644;

struct Fd {
  explicit Fd(int value) : fd(value) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int fd;
};

bool Fail(std::string& error, const std::string& what) {
  error = what + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool ReplaceFileDurably(const std::string& path, const std::string& content, std::string& error) {
  const std::string temporary = path + ".tmp";
  {
    Fd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode));
    if (file.fd < 0) return Fail(error, "cannot create " + temporary);
    for (std::size_t done = 0; done < content.size();) {
      const ssize_t n = ::write(file.fd, content.data() + done, content.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Fail(error, "cannot write " + temporary);
      done += static_cast<std::size_t>(n);
    }
    if (::fsync(file.fd) != 0) return Fail(error, "cannot flush " + temporary);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) return Fail(error, "cannot rename " + temporary);
  // The rename lives in the directory; until that reaches the disk the old
  // file may come back after a power cut.
  std::filesystem::path directory = std::filesystem::path(path).parent_path();
  if (directory.empty()) directory = ".";
  Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd < 0 || ::fsync(dir.fd) != 0) return Fail(error, "cannot flush the directory of " + path);
  return true;
}
