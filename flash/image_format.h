#pragma once

// The file formats tovrin-cli reads besides S-records, and the one entry point
// that picks a loader: Intel HEX, ELF (32- and 64-bit, either byte order) and
// raw binary all fill the same 128 KiB image within the same bounds, and give
// the same results as the S-record loader: 1 for data outside the flash or a
// file that cannot be read, 2 for a record whose checksum does not match.

#include <cstddef>
#include <cstdint>
#include <string>

#include "flash/flash_image.h"

// "srec", "ihex", "elf", "bin" (and "auto"): the names --format takes and a
// run record gives.
const char* FormatName(ImageFormat format);
// The same for people: "S-records", "Intel HEX", "ELF", "raw binary".
const char* FormatTitle(ImageFormat format);
// false when name is none of FormatName's.
bool ParseFormatName(const std::string& name, ImageFormat& format);

// The format the content shows: ELF by its magic number, otherwise the first
// token that looks like a record (":" and a hex digit, or "S" and a digit);
// kAuto when there is none. Raw binary is never guessed.
ImageFormat DetectFormat(const char* bytes, std::size_t length);

// Loads a file for a programming run in the given format (kAuto: as
// DetectFormat finds it); base is where a raw binary's first byte goes. A file
// whose format is not recognised, or that gives no data at all (no S3 record,
// no Intel HEX data record, no ELF segment with bytes in the file, an empty
// binary), is refused with kLoadDataError before anything could be sent.
// report.format names the format read.
LoadReport LoadImage(const char* bytes, std::size_t length, ImageFormat format, std::uint32_t base, FlashImage& image);

// The loaders on their own; each fills the whole image (0xFF where the file
// gives nothing) and reports what it read in report.stats.
// Intel HEX: data, end-of-file, extended segment and extended linear address
// records; start address records are read and ignored.
LoadReport LoadIntelHexText(const char* text, std::size_t length, FlashImage& image);
// ELF: the file bytes of each PT_LOAD segment at its physical address.
LoadReport LoadElfImage(const char* bytes, std::size_t length, FlashImage& image);
// Raw bytes from base on.
LoadReport LoadBinaryImage(const char* bytes, std::size_t length, std::uint32_t base, FlashImage& image);
