// Arbitrary bytes as an S-record file: the loader must never read outside the
// text or write outside the image, and must always answer with one of its codes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "flash/flash_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FlashImage image;
  const int result = LoadSRecordText(reinterpret_cast<const char*>(data), size, image).result;
  if (result != kLoadOk && result != kLoadDataError && result != kLoadChecksumError) std::abort();
  return 0;
}
