#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "job/job_platform.h"

namespace {
constexpr char kTrustFolder[] = "/etc/tovrin/trusted-keys";
constexpr char kKeySuffix[] = ".pem";
}  // namespace

std::string StationTrustFolder() { return kTrustFolder; }

FolderList KeyFilesIn(const std::string& folder, std::vector<std::string>& paths, std::string& reason) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT) return FolderList::kAbsent;
    reason = std::strerror(errno);
    return FolderList::kUnreadable;
  }
  const std::size_t suffix = sizeof kKeySuffix - 1;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > suffix && name.compare(name.size() - suffix, suffix, kKeySuffix) == 0) {
      paths.push_back(folder + "/" + name);
    }
  }
  ::closedir(dir);
  std::sort(paths.begin(), paths.end());
  return FolderList::kListed;
}
