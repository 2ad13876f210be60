#pragma once

// Writes S-records for the loader's tests, so that test data says what it holds
// instead of carrying hand-computed checksums.

#include <algorithm>
#include <cctype>
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

// The record with its hex digits in lower case (the type tag or colon before them kept).
inline std::string LowerHex(std::string record) {
  for (std::size_t i = 1; i < record.size(); ++i) {
    record[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(record[i])));
  }
  return record;
}

// The first offset at which two images differ, or -1.
template <class Image>
long FirstDifference(const Image& a, const Image& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] != b[i]) return static_cast<long>(i);
  }
  return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}
