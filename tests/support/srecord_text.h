#pragma once

// Writes S-records for the loader's tests, so that test data says what it holds
// instead of carrying hand-computed checksums.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// One record of type '0'..'9' with a 16-, 24- or 32-bit address as the type
// requires, upper-case hex and a correct checksum.
inline std::string SRecord(char type, std::uint32_t address, const Bytes& data) {
  const int addressBytes = type == '2' || type == '8' ? 3 : type == '3' || type == '7' ? 4 : 2;
  Bytes fields;
  for (int shift = 8 * (addressBytes - 1); shift >= 0; shift -= 8) {
    fields.push_back(static_cast<std::uint8_t>(address >> shift));
  }
  fields.insert(fields.end(), data.begin(), data.end());
  unsigned sum = static_cast<unsigned>(fields.size() + 1);
  std::string text = {'S', type};
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  text += hex;
  for (std::uint8_t b : fields) {
    sum += b;
    std::snprintf(hex, sizeof hex, "%02X", b);
    text += hex;
  }
  std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
  return text + hex;
}

inline std::string S3(std::uint32_t address, const Bytes& data) { return SRecord('3', address, data); }
