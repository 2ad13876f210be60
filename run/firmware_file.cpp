#include "run/firmware_file.h"

#include "flash/image_format.h"
#include "os/files.h"
#include "run/sha256.h"

namespace {

bool IsStandardInput(const std::string& name) { return name == kStandardInputName || name == "/dev/stdin"; }

}  // namespace

FileBytes ReadFirmwareBytes(const std::string& name) {
  return IsStandardInput(name) ? ReadStandardInput(kMaxFirmwareBytes) : ReadRegularFile(name, kMaxFirmwareBytes);
}

FirmwareFile ReadFirmware(const std::string& name, const InputChoice& input) {
  FirmwareFile file;
  file.name = name;
  const FileBytes read = ReadFirmwareBytes(name);
  if (read.status != FileReadStatus::kRead) {
    file.result = read.status == FileReadStatus::kNotOpened || read.status == FileReadStatus::kMissing
                      ? kProgramFileNotOpened
                      : kProgramDataError;
    file.reason = read.reason;
    return file;
  }
  file.read = true;
  file.size = read.bytes.size();
  file.sha256 = Sha256Hex(reinterpret_cast<const std::uint8_t*>(read.bytes.data()), read.bytes.size());
  file.load = LoadImage(read.bytes.data(), read.bytes.size(), input.format, input.base, *file.image);
  file.result = file.load.result;
  return file;
}
