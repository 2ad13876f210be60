#pragma once

// The character classes the text image formats are scanned with: whitespace
// separates records, and records spell their bytes in pairs of hex digits.
// Tables keep the cost per character of a 300 KiB file to one look-up.

#include <array>
#include <cstdint>

namespace text_scan {

constexpr std::array<std::int8_t, 256> MakeHexTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& v : table) v = -1;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<std::int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<std::int8_t>(c - 'A' + 10);
  return table;
}
inline constexpr auto kHexValue = MakeHexTable();

// The separators of a formatted string scan in the C locale.
constexpr std::array<bool, 256> MakeSpaceTable() {
  std::array<bool, 256> table{};
  for (char c : {' ', '\t', '\n', '\v', '\f', '\r'}) table[static_cast<unsigned char>(c)] = true;
  return table;
}
inline constexpr auto kIsSpace = MakeSpaceTable();

}  // namespace text_scan

inline bool IsSpace(char c) { return text_scan::kIsSpace[static_cast<unsigned char>(c)]; }

// The digit's value, or -1 for a character that is not a hex digit.
inline int HexDigit(char c) { return text_scan::kHexValue[static_cast<unsigned char>(c)]; }

// The byte that two hex digits spell, or -1 when either is not a digit.
inline int HexByte(const char* p) {
  const int high = HexDigit(p[0]);
  const int low = HexDigit(p[1]);
  return (high | low) < 0 ? -1 : high << 4 | low;
}
