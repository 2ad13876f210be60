#include "common/text.h"

#include <cstdio>

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7E;
constexpr unsigned char kLastAscii = 0x7F;
constexpr char32_t kLastLatin1 = 0xFF;

std::string Escaped(unsigned char byte) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  return text;
}

// The length of the UTF-8 character at text[at], or 0 when none starts there.
std::size_t Utf8CharLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead <= kLastAscii) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string Printable(std::string_view bytes) {
  std::string shown;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= kFirstPrintable && byte <= kLastPrintable) {
      shown += c;
    } else {
      shown += Escaped(byte);
    }
  }
  return shown;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

bool IsUtf8(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = Utf8CharLength(bytes, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string Utf8OrEscaped(std::string_view bytes) {
  if (IsUtf8(bytes)) return std::string(bytes);
  std::string shown;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = Utf8CharLength(bytes, at);
    if (length == 0 || bytes[at] == '\\') {
      shown += Escaped(static_cast<unsigned char>(bytes[at]));
      ++at;
    } else {
      shown.append(bytes, at, length);
      at += length;
    }
  }
  return shown;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= kLastAscii) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

std::optional<std::string> Utf8ToLatin1(std::string_view text) {
  std::string bytes;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8CharLength(text, at);
    if (length == 0 || length > 2) return std::nullopt;  // not UTF-8, or above U+07FF
    char32_t c = static_cast<unsigned char>(text[at]);
    if (length == 2) c = (c & 0x1F) << 6 | (static_cast<unsigned char>(text[at + 1]) & 0x3F);
    if (c > kLastLatin1) return std::nullopt;
    bytes += static_cast<char>(c);
    at += length;
  }
  return bytes;
}

std::string MessageText(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string UtcText(std::chrono::sys_time<std::chrono::milliseconds> at) {
  using namespace std::chrono;
  const auto day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss time{at - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return text;
}
