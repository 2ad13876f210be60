#pragma once

// The board's 128 KiB flash as it comes out of the factory, and its copy on disk.

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr std::uint32_t kIdentityAt = 0x420;
constexpr int kRevisionAt = 0;   // within the identity record
constexpr int kSerialAt = 1;     // the serial number, then a NUL
constexpr int kSerialMax = 15;
constexpr int kHardwareAt = 10;  // a serial number of 9 or more characters overlaps it
constexpr int kHardwareLength = 4;
constexpr int kIdentityLength = 16;

// All erased but for the identity record. The serial number is written after
// the hardware code, as the tool stamps it over a programmed image, so a long
// serial number wins over the code it overlaps (and its NUL may reach 0x430).
std::vector<std::uint8_t> FactoryFlash(char revision, const std::string& serial,
                                       const std::string& hardware);

// The serial number of a production line's board (from 1): the number at the
// end of base plus board - 1, keeping its width (SN0099, SN0100, ...); a base
// that ends in no digit gets the board's number appended (AB1, AB2, ...). The
// caller checks that the result fits the identity record.
std::string BoardSerial(const std::string& base, int board);

// Writes the flash as raw bytes, through a temporary file and a rename so that a
// reader never sees half a file. False with a reason in error.
bool WriteFlashFile(const std::string& path, const std::vector<std::uint8_t>& flash,
                    std::string& error);

}  // namespace sim
