#include "sim/sim_flash.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/loader_wire.h"
#include "os/files.h"

namespace sim {

std::vector<std::uint8_t> FactoryFlash(char revision, const std::string& serial,
                                       const std::string& hardware) {
  std::vector<std::uint8_t> flash(kFlashSize, kErased);
  std::uint8_t* record = flash.data() + kIdentityAt;
  record[kRevisionAt] = static_cast<std::uint8_t>(revision);
  for (std::size_t i = 0; i < hardware.size() && i < kHardwareLength; ++i) {
    record[kHardwareAt + i] = static_cast<std::uint8_t>(hardware[i]);
  }
  std::size_t i = 0;
  for (; i < serial.size() && i < kSerialMax; ++i) {
    record[kSerialAt + i] = static_cast<std::uint8_t>(serial[i]);
  }
  record[kSerialAt + i] = 0;
  return flash;
}

std::string BoardSerial(const std::string& base, int board) {
  std::size_t digitsAt = base.size();
  while (digitsAt > 0 && base[digitsAt - 1] >= '0' && base[digitsAt - 1] <= '9') --digitsAt;
  const std::size_t width = base.size() - digitsAt;
  if (width == 0) return base + std::to_string(board);
  // Serial numbers hold at most 15 characters, so the number fits 64 bits.
  std::uint64_t number = 0;
  for (std::size_t i = digitsAt; i < base.size(); ++i) number = number * 10 + static_cast<std::uint64_t>(base[i] - '0');
  std::string digits = std::to_string(number + static_cast<std::uint64_t>(board - 1));
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return base.substr(0, digitsAt) + digits;
}

bool WriteFlashFile(const std::string& path, const std::vector<std::uint8_t>& flash,
                    std::string& error) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = CreateFileForWriting(temporary);
  if (!file) {
    error = "cannot write " + temporary + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(flash.data(), 1, flash.size(), file) == flash.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed || !RenameOver(temporary, path)) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    RemoveFile(temporary);
    return false;
  }
  return true;
}

}  // namespace sim
