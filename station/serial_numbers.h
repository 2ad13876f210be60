#pragma once

// Serial numbers as a production line counts them: a prefix, then digits that
// count up with their width kept (SN0099, SN0100). When the digits are all 9s
// the range is used up: the width never grows, so every number of a range has
// the same length and the same prefix.

#include <cstdint>
#include <string>

namespace serial_const {
// The identity record holds at most this many characters of serial number.
constexpr std::size_t kSerialMax = 15;
}  // namespace serial_const

// A serial number taken apart: its prefix, the width of its digits and their value.
struct SerialParts {
  std::string prefix;
  std::size_t width = 0;
  std::uint64_t value = 0;
};

// False when `serial` has no trailing digits or is longer than kSerialMax.
bool SplitSerial(const std::string& serial, SerialParts& parts);
std::string JoinSerial(const std::string& prefix, std::size_t width, std::uint64_t value);
// The largest value `width` digits hold (9...9).
std::uint64_t LargestValue(std::size_t width);

// True when `serial` has `first`'s prefix and width: the same range.
bool SameRange(const std::string& first, const std::string& serial);

// The number after `serial`, width kept: false (next untouched) when it has no
// trailing digits or they are all 9s.
bool NextSerial(const std::string& serial, std::string& next);

// Why `serial`, given from outside (a scanned label), cannot be a number of
// the range `first` starts: not a serial number at all, or of another prefix or
// width, or before `first`. Empty when it can; an empty `first` checks only that
// it is a serial number.
std::string GivenSerialFault(const std::string& serial, const std::string& first);

// Printable ASCII only: a serial number goes into JSON, SQL text and the
// identity record, and the same bytes must come back from each.
bool IsPrintableSerial(const std::string& serial);
