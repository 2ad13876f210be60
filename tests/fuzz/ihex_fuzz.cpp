// Arbitrary bytes as an Intel HEX file: the loader must never read outside the
// text or write outside the image, and must always answer with one of its codes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "flash/image_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FlashImage image;
  const LoadReport report = LoadIntelHexText(reinterpret_cast<const char*>(data), size, image);
  if (report.result != kLoadOk && report.result != kLoadDataError && report.result != kLoadChecksumError) std::abort();
  // A record the loader stops at is named by a line within the text.
  if (report.result != kLoadOk && report.line == 0) std::abort();
  return 0;
}
