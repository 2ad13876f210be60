#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/file_platform.h"

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

struct Fd {
  explicit Fd(int value) : fd(value) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int fd;
};

FileBytes Failed(FileReadStatus status, std::string reason) {
  FileBytes read;
  read.status = status;
  read.reason = std::move(reason);
  return read;
}

const char* Kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

FileBytes ReadAll(int fd, std::size_t maxBytes) {
  FileBytes read;
  char chunk[kChunkBytes];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failed(FileReadStatus::kReadFailed, std::strerror(errno));
    if (n == 0) return read;
    if (read.bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
      return Failed(FileReadStatus::kTooLarge, "larger than " + std::to_string(maxBytes >> 20) + " MiB");
    }
    read.bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace

FileBytes ReadRegularFile(const std::string& path, std::size_t maxBytes) {
  // O_NONBLOCK: opening a FIFO with no writer returns at once instead of
  // waiting; the type is then taken from the descriptor that was opened.
  Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0) return Failed(FileReadStatus::kNotOpened, std::strerror(errno));
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return Failed(FileReadStatus::kNotOpened, std::strerror(errno));
  if (!S_ISREG(info.st_mode)) {
    return Failed(FileReadStatus::kNotOpened, std::string("not a regular file: ") + Kind(info.st_mode));
  }
  if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
    return Failed(FileReadStatus::kTooLarge, "larger than " + std::to_string(maxBytes >> 20) + " MiB");
  }
  ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
  return ReadAll(file.fd, maxBytes);
}

FileBytes ReadStandardInput(std::size_t maxBytes) { return ReadAll(STDIN_FILENO, maxBytes); }

std::FILE* CreateFileForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }
