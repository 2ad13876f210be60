#include "cli/file_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli_platform.h"
#include "cli/sha256.h"
#include "flash/image_format.h"

namespace {

bool IsStandardInput(const std::string& path) { return path == kStandardInputName || path == "/dev/stdin"; }

}  // namespace

FileRead ReadInputFile(const std::string& path, std::string& bytes) {
  if (IsStandardInput(path)) {
    UseBinaryStandardInput();
    return ReadSRecordStream(stdin, bytes);
  }
  return ReadSRecordFile(path.c_str(), bytes);
}

LoadedFile LoadInputFile(const std::string& path, const InputChoice& input) {
  LoadedFile file;
  std::string bytes;
  const FileRead read = ReadInputFile(path, bytes);
  if (read.result != kProgramDone) {
    file.result = read.result;
    file.reason = read.reason;
    return file;
  }
  file.sha256 = Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  file.load = LoadImage(bytes.data(), bytes.size(), input.format, input.base, *file.image);
  file.result = file.load.result;
  return file;
}
