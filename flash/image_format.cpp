// Which loader reads a file, told from its content unless the caller says, and
// the refusal of a file that gives nothing to program.

#include "flash/image_format.h"

#include <cstring>

#include "common/diagnostic_line.h"
#include "flash/flash_image.h"
#include "flash/text_scan.h"

namespace {

struct FormatNames {
  ImageFormat format;
  const char* name;
  const char* title;
};
constexpr FormatNames kFormats[] = {
    {ImageFormat::kSRecord, "srec", "S-records"},
    {ImageFormat::kIntelHex, "ihex", "Intel HEX"},
    {ImageFormat::kElf, "elf", "ELF"},
    {ImageFormat::kBinary, "bin", "raw binary"},
};

constexpr unsigned char kElfMagic[] = {0x7F, 'E', 'L', 'F'};

LoadReport Refuse(LoadReport report, const char* why, const char* logged) {
  report.result = kLoadDataError;
  report.reason = why;
  report.diagnostics.push_back(std::string(logged) + "\n");
  return report;
}

}  // namespace

const char* FormatName(ImageFormat format) {
  for (const FormatNames& f : kFormats) {
    if (f.format == format) return f.name;
  }
  return "auto";
}

const char* FormatTitle(ImageFormat format) {
  for (const FormatNames& f : kFormats) {
    if (f.format == format) return f.title;
  }
  return "not recognised";
}

bool ParseFormatName(const std::string& name, ImageFormat& format) {
  for (const FormatNames& f : kFormats) {
    if (name == f.name) {
      format = f.format;
      return true;
    }
  }
  return false;
}

ImageFormat DetectFormat(const char* bytes, std::size_t length) {
  if (length >= sizeof kElfMagic && std::memcmp(bytes, kElfMagic, sizeof kElfMagic) == 0) return ImageFormat::kElf;
  for (std::size_t p = 0; p < length;) {
    while (p < length && IsSpace(bytes[p])) ++p;
    const std::size_t start = p;
    while (p < length && !IsSpace(bytes[p])) ++p;
    if (p - start < 2) continue;
    const char tag = bytes[start];
    const char next = bytes[start + 1];
    if (tag == ':' && HexDigit(next) >= 0) return ImageFormat::kIntelHex;
    if (tag == 'S' && next >= '0' && next <= '9') return ImageFormat::kSRecord;
  }
  return ImageFormat::kAuto;
}

LoadReport LoadImage(const char* bytes, std::size_t length, ImageFormat format, std::uint32_t base, FlashImage& image) {
  const ImageFormat read = format == ImageFormat::kAuto ? DetectFormat(bytes, length) : format;
  LoadReport report;
  switch (read) {
    case ImageFormat::kSRecord:
      // As the window loads it, with its refusal of a file without S3 records.
      return LoadForProgramming(bytes, length, image);
    case ImageFormat::kIntelHex:
      report = LoadIntelHexText(bytes, length, image);
      if (report.result == kLoadOk && report.stats.hexRecords[0] == 0) {
        return Refuse(report, "the file holds no data record", "error in Intel HEX data: the file holds no data record");
      }
      return report;
    case ImageFormat::kElf:
      report = LoadElfImage(bytes, length, image);
      if (report.result == kLoadOk && report.stats.dataBytes == 0) {
        return Refuse(report, "the file holds no loadable segment with bytes in it",
                      "error in ELF file: no loadable segment with bytes in it");
      }
      return report;
    case ImageFormat::kBinary:
      report = LoadBinaryImage(bytes, length, base, image);
      if (report.result == kLoadOk && length == 0) {
        return Refuse(report, "the file is empty", "error in binary file: the file is empty");
      }
      return report;
    case ImageFormat::kAuto:
      break;
  }
  image.fill(kErasedByte);
  report.format = ImageFormat::kAuto;
  if (length == 0) return Refuse(report, "the file is empty", "error in file: the file is empty");
  return Refuse(report, "neither S-records, Intel HEX nor ELF (raw binary is read only when asked for)",
                "error in file: neither S-records, Intel HEX nor ELF");
}
