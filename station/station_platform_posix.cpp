#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

#include "station/station_platform.h"

namespace {

namespace platform_const {
constexpr mode_t kFileMode = 0644;
constexpr int kLockPollMs = 10;  // between two tries of a lock another station holds
constexpr std::size_t kReadChunk = 4096;
}  // namespace platform_const

struct Fd {
  explicit Fd(int value) : fd(value) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int fd;
};

// The temporary file of a replacement that failed: removed, so nothing is left
// beside the file (a FILE.tmp after a failed dump would look like a dump).
struct RemovedUnlessRenamed {
  std::string path;
  bool created = false;
  ~RemovedUnlessRenamed() {
    if (created) ::unlink(path.c_str());
  }
};

bool Fail(std::string& error, const std::string& what) {
  error = what + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool ReplaceFileDurably(const std::string& path, const std::string& content, std::string& error) {
  const std::string temporary = path + ".tmp";
  RemovedUnlessRenamed leftover{temporary};
  {
    Fd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, platform_const::kFileMode));
    if (file.fd < 0) return Fail(error, "cannot create " + temporary);
    leftover.created = true;
    for (std::size_t done = 0; done < content.size();) {
      const ssize_t n = ::write(file.fd, content.data() + done, content.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Fail(error, "cannot write " + temporary);
      done += static_cast<std::size_t>(n);
    }
    if (::fsync(file.fd) != 0) return Fail(error, "cannot flush " + temporary);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) return Fail(error, "cannot rename " + temporary);
  leftover.created = false;
  // The rename lives in the directory; until that reaches the disk the old
  // file may come back after a power cut.
  std::filesystem::path directory = std::filesystem::path(path).parent_path();
  if (directory.empty()) directory = ".";
  Fd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd < 0 || ::fsync(dir.fd) != 0) return Fail(error, "cannot flush the directory of " + path);
  return true;
}

SmallRead ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& reason) {
  // O_NONBLOCK: a FIFO put in the file's place must not wait for a writer.
  Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.fd < 0) {
    if (errno == ENOENT) return SmallRead::kMissing;
    reason = std::strerror(errno);
    return SmallRead::kFailed;
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) {
    reason = std::strerror(errno);
    return SmallRead::kFailed;
  }
  if (!S_ISREG(st.st_mode)) {
    reason = S_ISDIR(st.st_mode) ? "a folder, not a file" : "not a regular file";
    return SmallRead::kFailed;
  }
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    reason = "larger than " + std::to_string(maxBytes) + " bytes";
    return SmallRead::kFailed;
  }
  bytes.clear();
  char chunk[platform_const::kReadChunk];
  for (;;) {
    const ssize_t n = ::read(file.fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = std::strerror(errno);
      return SmallRead::kFailed;
    }
    if (n == 0) return SmallRead::kRead;
    // It may have grown since fstat.
    if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
      reason = "larger than " + std::to_string(maxBytes) + " bytes";
      return SmallRead::kFailed;
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

FileLock::~FileLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing lets go of the lock
}

// flock, not fcntl: an fcntl lock belongs to the process and goes when any of
// its descriptors of the file closes, so two stores in one process would not
// exclude each other. Linux carries flock over NFS as a whole-file fcntl lock.
bool FileLock::Acquire(const std::string& path, int waitMs, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, platform_const::kFileMode);
  if (fd < 0) return Fail(error, "cannot open the lock file " + path);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      handle_ = fd;
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      Fail(error, "cannot lock " + path);
      ::close(fd);
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      error = "another process has held the lock " + path + " for over " + std::to_string(waitMs) + " ms";
      ::close(fd);
      return false;
    }
    PauseMs(platform_const::kLockPollMs);
  }
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

std::string UserName() {
  const passwd* pw = ::getpwuid(::geteuid());
  if (pw != nullptr && pw->pw_name != nullptr) return pw->pw_name;
  return "uid " + std::to_string(::geteuid());
}

std::string UtcNowText() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm {};
  ::gmtime_r(&seconds, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return text;
}

void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
