#include "cli/file_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/sha256.h"

namespace {

bool IsStandardInput(const std::string& path) { return path == kStandardInputName || path == "/dev/stdin"; }

FileRead ReadStandardInput(std::string& bytes) {
  bytes.clear();
  FileRead read;
  char chunk[64 * 1024];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0;) {
    if (bytes.size() + n > program_const::kMaxFileBytes) {
      read.result = kProgramDataError;
      read.reason = "larger than 64 MiB";
      return read;
    }
    bytes.append(chunk, n);
  }
  if (std::ferror(stdin)) {
    read.result = kProgramDataError;
    read.reason = std::strerror(errno);
  }
  return read;
}

}  // namespace

FileRead ReadInputFile(const std::string& path, std::string& bytes) {
  if (IsStandardInput(path)) return ReadStandardInput(bytes);
  return ReadSRecordFile(path.c_str(), bytes);
}

LoadedFile LoadInputFile(const std::string& path) {
  LoadedFile file;
  std::string bytes;
  const FileRead read = ReadInputFile(path, bytes);
  if (read.result != kProgramDone) {
    file.result = read.result;
    file.reason = read.reason;
    return file;
  }
  file.sha256 = Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  file.load = LoadForProgramming(bytes.data(), bytes.size(), *file.image);
  file.result = file.load.result;
  return file;
}
