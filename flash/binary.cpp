// Fills the flash image from raw bytes: the file is the flash's content from
// a base address on, byte for byte.

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "common/diagnostic_line.h"
#include "flash/image_format.h"

LoadReport LoadBinaryImage(const char* bytes, std::size_t length, std::uint32_t base, FlashImage& image) {
  LoadReport report;
  report.format = ImageFormat::kBinary;
  report.stats.base = base;
  image.fill(kErasedByte);
  if (base >= kFlashSize || length > kFlashSize - base) {
    char why[96];
    std::snprintf(why, sizeof why, "%zu bytes from 0x%05X run past the flash's end at 0x%05X", length,
                  static_cast<unsigned>(base), static_cast<unsigned>(kFlashSize));
    report.diagnostics.push_back(DiagnosticLine("error in binary file Address %8x (%s)\n", static_cast<unsigned>(base), why));
    report.result = kLoadDataError;
    report.reason = why;
    return report;
  }
  std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes), length, image.begin() + base);
  report.stats.dataBytes = length;
  return report;
}
