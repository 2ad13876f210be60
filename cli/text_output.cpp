#include "cli/text_output.h"

#include <cstdio>

#include "flash/vocabulary.h"

namespace {
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7E;
}  // namespace

std::string MessageText(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= kFirstPrintable && byte <= kLastPrintable) {
      shown += c;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    }
  }
  return shown;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
  std::string hex;
  char pair[3];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    hex += pair;
  }
  return hex;
}


std::string UnsentWarning(const FramePlan& plan) {
  return std::to_string(plan.unsentBytes) + (plan.unsentBytes == 1 ? " byte" : " bytes") + " of data from " +
         FlashAddress(plan.firstUnsent) + " are never sent: a run stops short of the flash's last bytes";
}
