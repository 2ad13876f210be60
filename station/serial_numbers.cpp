#include "station/serial_numbers.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where the trailing digits begin.
std::size_t DigitsAt(const std::string& serial) {
  std::size_t at = serial.size();
  while (at > 0 && IsDigit(serial[at - 1])) --at;
  return at;
}

}  // namespace

bool SplitSerial(const std::string& serial, SerialParts& parts) {
  const std::size_t at = DigitsAt(serial);
  if (at == serial.size() || serial.size() > serial_const::kSerialMax) return false;
  parts.prefix = serial.substr(0, at);
  parts.width = serial.size() - at;
  parts.value = 0;
  for (std::size_t i = at; i < serial.size(); ++i) parts.value = parts.value * 10 + static_cast<std::uint64_t>(serial[i] - '0');
  return true;
}

std::string JoinSerial(const std::string& prefix, std::size_t width, std::uint64_t value) {
  std::string digits(width, '0');
  for (std::size_t i = width; i-- > 0 && value > 0; value /= 10) digits[i] = static_cast<char>('0' + value % 10);
  return prefix + digits;
}

std::uint64_t LargestValue(std::size_t width) {
  std::uint64_t largest = 0;
  for (std::size_t i = 0; i < width; ++i) largest = largest * 10 + 9;
  return largest;
}

bool SameRange(const std::string& first, const std::string& serial) {
  SerialParts a;
  SerialParts b;
  return SplitSerial(first, a) && SplitSerial(serial, b) && a.prefix == b.prefix && a.width == b.width;
}

bool NextSerial(const std::string& serial, std::string& next) {
  SerialParts parts;
  if (!SplitSerial(serial, parts) || parts.value >= LargestValue(parts.width)) return false;
  next = JoinSerial(parts.prefix, parts.width, parts.value + 1);
  return true;
}

bool IsPrintableSerial(const std::string& serial) {
  for (const char c : serial) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

std::string GivenSerialFault(const std::string& serial, const std::string& first) {
  SerialParts given;
  if (serial.empty() || !IsPrintableSerial(serial) || !SplitSerial(serial, given)) {
    return "not a serial number: one ends in digits and has at most " + std::to_string(serial_const::kSerialMax) +
           " printable characters";
  }
  SerialParts from;
  if (!first.empty() && (!SameRange(first, serial) || !SplitSerial(first, from) || given.value < from.value)) {
    return "not a number of this line's range, which counts from " + first;
  }
  return "";
}
