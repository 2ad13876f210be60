#include "os/path_facts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The system's own bound on the symbolic links one path may pass through.
constexpr int kMaxLinks = 40;
constexpr std::size_t kLinkTextBytes = 4096;

PathFacts Unknown(int error) {
  PathFacts facts;
  facts.kind = PathKind::kUnknown;
  facts.reason = std::strerror(error);
  return facts;
}

PathKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return PathKind::kRegular;
  if (S_ISDIR(mode)) return PathKind::kFolder;
  if (S_ISFIFO(mode)) return PathKind::kFifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return PathKind::kDevice;
  return PathKind::kOther;
}

PathFacts Existing(const struct stat& info) {
  PathFacts facts;
  facts.kind = KindOf(info.st_mode);
  facts.identified = true;
  facts.volume = static_cast<std::uint64_t>(info.st_dev);
  facts.index = static_cast<std::uint64_t>(info.st_ino);
  return facts;
}

// The folder part of a path ("." for a bare name) and the name after it.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Nothing at `path`: the file a write would create, told by its folder and name.
PathFacts Missing(const std::string& path) {
  PathFacts facts;
  facts.kind = PathKind::kMissing;
  const std::string name = NameOf(path);
  struct stat folder {};
  if (name.empty() || ::stat(FolderOf(path).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) return facts;
  facts.identified = true;
  facts.volume = static_cast<std::uint64_t>(folder.st_dev);
  facts.index = static_cast<std::uint64_t>(folder.st_ino);
  facts.name = name;
  return facts;
}

}  // namespace

PathFacts LookUpPath(const std::string& path) {
  std::string at = path;
  for (int links = 0; links <= kMaxLinks; ++links) {
    struct stat info {};
    if (::stat(at.c_str(), &info) == 0) return Existing(info);
    if (errno != ENOENT) return Unknown(errno);
    // A symbolic link to nothing: opening it to write creates the file it
    // points to, which is then the one to compare.
    struct stat link {};
    if (::lstat(at.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return Missing(at);
    char target[kLinkTextBytes];
    const ssize_t length = ::readlink(at.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return Unknown(ENAMETOOLONG);
    const std::string text(target, static_cast<std::size_t>(length));
    at = text.front() == '/' ? text : FolderOf(at) + "/" + text;
  }
  return Unknown(ELOOP);
}
