#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "os/files.h"
#include "os/handle.h"
#include "os/host.h"

namespace {

namespace files_const {
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr mode_t kFileMode = 0644;  // the station's files and the run log
constexpr int kLockPollMs = 10;     // between two tries of a lock another station holds
constexpr std::size_t kMiB = std::size_t{1} << 20;
}  // namespace files_const

FileBytes Failed(FileReadStatus status, std::string reason) {
  FileBytes read;
  read.status = status;
  read.reason = std::move(reason);
  return read;
}

std::string TooLarge(std::size_t maxBytes) {
  if (maxBytes % files_const::kMiB == 0) return "larger than " + std::to_string(maxBytes / files_const::kMiB) + " MiB";
  return "larger than " + std::to_string(maxBytes) + " bytes";
}

const char* Kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

FileBytes ReadAll(int fd, std::size_t maxBytes) {
  FileBytes read;
  char chunk[files_const::kChunkBytes];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failed(FileReadStatus::kReadFailed, std::strerror(errno));
    if (n == 0) return read;
    // It may have grown since fstat.
    if (read.bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
      return Failed(FileReadStatus::kTooLarge, TooLarge(maxBytes));
    }
    read.bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

bool Fail(std::string& error, const std::string& what) {
  error = what + ": " + std::strerror(errno);
  return false;
}

// The temporary file of a replacement that failed: removed, so nothing is left
// beside the file (a FILE.tmp after a failed dump would look like a dump).
struct RemovedUnlessRenamed {
  std::string path;
  bool created = false;
  ~RemovedUnlessRenamed() {
    if (created) ::unlink(path.c_str());
  }
};

}  // namespace

FileBytes ReadRegularFile(const std::string& path, std::size_t maxBytes) {
  // O_NONBLOCK: opening a FIFO with no writer returns at once instead of
  // waiting; the type is then taken from the descriptor that was opened.
  Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0) {
    return Failed(errno == ENOENT ? FileReadStatus::kMissing : FileReadStatus::kNotOpened, std::strerror(errno));
  }
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return Failed(FileReadStatus::kNotOpened, std::strerror(errno));
  if (!S_ISREG(info.st_mode)) {
    return Failed(FileReadStatus::kNotOpened, std::string("not a regular file: ") + Kind(info.st_mode));
  }
  if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) return Failed(FileReadStatus::kTooLarge, TooLarge(maxBytes));
  ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
  return ReadAll(file.fd, maxBytes);
}

FileBytes ReadStandardInput(std::size_t maxBytes) { return ReadAll(STDIN_FILENO, maxBytes); }

std::FILE* CreateFileForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

void RemoveFile(const std::string& path) { std::remove(path.c_str()); }

bool RenameOver(const std::string& temporary, const std::string& path) {
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool ReplaceFileDurably(const std::string& path, const std::string& content, std::string& error) {
  const std::string temporary = path + ".tmp";
  RemovedUnlessRenamed leftover{temporary};
  {
    Fd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, files_const::kFileMode));
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

FileLock::~FileLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing lets go of the lock
}

// flock, not fcntl: an fcntl lock belongs to the process and goes when any of
// its descriptors of the file closes, so two stores in one process would not
// exclude each other. Linux carries flock over NFS as a whole-file fcntl lock.
bool FileLock::Acquire(const std::string& path, int waitMs, std::string& error) {
  Fd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, files_const::kFileMode));
  if (file.fd < 0) return Fail(error, "cannot open the lock file " + path);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (::flock(file.fd, LOCK_EX | LOCK_NB) == 0) {
      handle_ = file.Release();
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return Fail(error, "cannot lock " + path);
    if (std::chrono::steady_clock::now() >= deadline) {
      error = "another process has held the lock " + path + " for over " + std::to_string(waitMs) + " ms";
      return false;
    }
    SleepMs(files_const::kLockPollMs);
  }
}

int OpenAppendFile(const std::string& path) {
  // O_NONBLOCK: a FIFO put in the file's place fails at once instead of
  // waiting for a reader; whatever opened is then told by its type.
  const int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK;
  int fd = ::open(path.c_str(), O_RDWR | flags, files_const::kFileMode);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | flags, files_const::kFileMode);  // append, not read
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

FolderList FilesEndingIn(const std::string& folder, const std::string& suffix, std::vector<std::string>& paths,
                         std::string& reason) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT) return FolderList::kAbsent;
    reason = std::strerror(errno);
    return FolderList::kUnreadable;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      paths.push_back(folder + "/" + name);
    }
  }
  ::closedir(dir);
  std::sort(paths.begin(), paths.end());
  return FolderList::kListed;
}

std::string MachineSettingsPath(const std::string& name) { return "/etc/tovrin/" + name; }
