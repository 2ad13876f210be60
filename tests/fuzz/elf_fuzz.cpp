// Arbitrary bytes as an ELF file: however its header and program headers lie
// about offsets and sizes, the loader must never read outside the file or write
// outside the image, must answer with one of its codes, and must load only
// segments that lie in the flash.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "flash/image_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FlashImage image;
  const LoadReport report = LoadElfImage(reinterpret_cast<const char*>(data), size, image);
  if (report.result != kLoadOk && report.result != kLoadDataError) std::abort();
  for (const ElfSegment& s : report.stats.segments) {
    if (s.loaded && (s.physical >= kFlashSize || s.fileBytes > kFlashSize - s.physical || s.offset > size ||
                     s.fileBytes > size - s.offset)) {
      std::abort();
    }
  }
  return 0;
}
