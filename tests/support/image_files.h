#pragma once

// Writes Intel HEX records and ELF files for the loaders' tests, so that test
// data says what it holds instead of carrying hand-computed checksums and
// offsets.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/srecord_text.h"

// One Intel HEX record with upper-case hex and a correct checksum.
inline std::string HexRecord(std::uint8_t type, std::uint16_t offset, const Bytes& data) {
  Bytes fields = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
                  static_cast<std::uint8_t>(offset), type};
  fields.insert(fields.end(), data.begin(), data.end());
  unsigned sum = 0;
  std::string text = ":";
  char hex[3];
  for (std::uint8_t b : fields) {
    sum += b;
    std::snprintf(hex, sizeof hex, "%02X", b);
    text += hex;
  }
  std::snprintf(hex, sizeof hex, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return text + hex;
}

inline std::string HexData(std::uint16_t offset, const Bytes& data) { return HexRecord(0, offset, data); }
inline std::string HexEnd() { return HexRecord(1, 0, {}); }
// An extended linear (type 4) or segment (type 2) address record.
inline std::string HexBase(std::uint8_t type, std::uint16_t value) {
  return HexRecord(type, 0, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

// One program header entry as an ELF file gives it.
struct ElfEntry {
  std::uint32_t type = 1;  // PT_LOAD
  std::uint64_t physical = 0;
  std::uint64_t virtualAddress = 0;
  Bytes data;                   // the file bytes
  std::uint64_t memoryBytes = 0;  // 0: as many as data
  // Overrides for malformed files: where the bytes are said to be, and how many.
  std::uint64_t offsetOverride = 0;
  std::uint64_t fileBytesOverride = 0;
};

// A whole ELF executable: header, program header table, then each entry's bytes.
inline std::string ElfFile(const std::vector<ElfEntry>& entries, int bits, bool bigEndian) {
  const bool wide = bits == 64;
  const std::size_t header = wide ? 64 : 52;
  const std::size_t entry = wide ? 56 : 32;
  std::string file(header + entries.size() * entry, '\0');
  auto put = [&](std::size_t at, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      const std::size_t index = bigEndian ? at + size - 1 - i : at + i;
      file[index] = static_cast<char>(value >> (8 * i) & 0xFF);
    }
  };
  const std::size_t word = wide ? 8 : 4;
  file[0] = 0x7F;
  file[1] = 'E';
  file[2] = 'L';
  file[3] = 'F';
  file[4] = static_cast<char>(wide ? 2 : 1);
  file[5] = static_cast<char>(bigEndian ? 2 : 1);
  file[6] = 1;
  put(16, 2, 2);  // ET_EXEC
  put(20, 1, 4);  // EV_CURRENT
  put(wide ? 32 : 28, header, word);  // e_phoff
  put(wide ? 52 : 40, header, 2);     // e_ehsize
  put(wide ? 54 : 42, entry, 2);      // e_phentsize
  put(wide ? 56 : 44, entries.size(), 2);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ElfEntry& e = entries[i];
    const std::size_t at = header + i * entry;
    const std::uint64_t offset = e.offsetOverride != 0 ? e.offsetOverride : file.size();
    const std::uint64_t fileBytes = e.fileBytesOverride != 0 ? e.fileBytesOverride : e.data.size();
    const std::uint64_t memoryBytes = e.memoryBytes != 0 ? e.memoryBytes : e.data.size();
    put(at, e.type, 4);
    put(at + (wide ? 8 : 4), offset, word);
    put(at + (wide ? 16 : 8), e.virtualAddress, word);
    put(at + (wide ? 24 : 12), e.physical, word);
    put(at + (wide ? 32 : 16), fileBytes, word);
    put(at + (wide ? 40 : 20), memoryBytes, word);
    file.append(e.data.begin(), e.data.end());
  }
  return file;
}
