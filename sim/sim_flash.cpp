#include "sim/sim_flash.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/loader_wire.h"

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

bool WriteFlashFile(const std::string& path, const std::vector<std::uint8_t>& flash,
                    std::string& error) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) {
    error = "cannot write " + temporary + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(flash.data(), 1, flash.size(), file) == flash.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace sim
