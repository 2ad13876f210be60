#include "cli/output/record_file.h"

#include <cerrno>
#include <cstring>

#include "os/files.h"
#include "os/path_facts.h"

namespace {
constexpr const char kNotRegular[] = "not a regular file";
}

std::string NotARecordFile(const std::string& path) {
  const PathKind kind = LookUpPath(path).kind;
  if (kind == PathKind::kMissing || kind == PathKind::kRegular || kind == PathKind::kUnknown) return "";
  return std::string(kNotRegular) + ": " + PathKindName(kind);
}

int OpenRecordFile(const std::string& path, std::string& reason) {
  // Told by its type first: a FIFO's open could otherwise wait for a reader.
  reason = NotARecordFile(path);
  if (!reason.empty()) return -1;
  const int fd = OpenAppendFile(path);
  // EINVAL: it became something else than a regular file since it was looked at.
  if (fd < 0) reason = errno == EINVAL ? kNotRegular : std::strerror(errno);
  return fd;
}
