#include "cli/range_arg.h"

#include <charconv>

#include "flash/flash_image.h"
#include "vocabulary/vocabulary.h"

namespace {

constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;

// A whole number, hex with 0x or 0X, else decimal; nothing else in the text.
bool ParseAddress(const std::string& text, std::uint64_t& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, value, hex ? kHexBase : kDecimalBase);
  return first != last && error == std::errc() && end == last;
}

}  // namespace

std::string ParseFlashRange(const std::string& text, std::uint32_t& start, std::uint32_t& end) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return "a range is START:END, e.g. 0x400:0x800";
  const std::string startText = text.substr(0, colon);
  const std::string endText = text.substr(colon + 1);
  std::uint64_t from = 0;
  std::uint64_t to = kFlashSize;
  if (!startText.empty() && !ParseAddress(startText, from)) return "not an address: " + startText;
  if (!endText.empty() && !ParseAddress(endText, to)) return "not an address: " + endText;
  if (to > kFlashSize) return "the flash ends at " + FlashAddress(kFlashSize) + ": " + text;
  if (from >= to) return "START must lie below END (END is not included): " + text;
  start = static_cast<std::uint32_t>(from);
  end = static_cast<std::uint32_t>(to);
  return "";
}
