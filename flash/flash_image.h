#pragma once

// The picture of the board's 128 KiB flash that a programming run sends, and the
// S-record loader that fills it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "flash/load_stats.h"

constexpr std::uint32_t kFlashSize = 0x20000;
constexpr std::uint8_t kErasedByte = 0xFF;

// One byte per flash offset; 0xFF (erased) wherever no record wrote. 128 KiB:
// callers keep it on the heap or in an object, not on a small stack.
using FlashImage = std::array<std::uint8_t, kFlashSize>;

enum LoadResult : int {
  kLoadOk = 0,
  kLoadDataError = 1,      // data outside the flash, or a record that cannot be read
  kLoadChecksumError = 2,  // a record whose checksum does not match
};

// What a load found. On failure, the record it stopped at: its line (from 1),
// its text (cut at the longest record a count allows) and the reason. The same
// is written as a diagnostic line for whoever watches the tool's output.
struct LoadReport {
  int result = kLoadOk;      // a LoadResult
  std::size_t line = 0;      // 0: the failure is the file's, not a record's
  std::string record;
  std::string reason;
  std::size_t s3Records = 0;  // S3 records met, the failing one included
  ImageFormat format = ImageFormat::kSRecord;  // the format read
  LoadStats stats;
  // The loader's diagnostic lines (a refused record, an address beyond the
  // flash), for whoever watches the tool's output.
  std::vector<std::string> diagnostics;
};

// Fills image from the S3 records of text already in memory; every other record
// type and any other text is passed over.
LoadReport LoadSRecordText(const char* text, std::size_t length, FlashImage& image);

// The same from an open file, read to its end. The caller opens and closes it.
LoadReport LoadSRecordImage(std::FILE* file, FlashImage& image);

// Loads file text for a programming run: the loader's report, except that text
// holding no S3 record at all (empty, binary, plain text, only S1/S2 records) is
// refused with kLoadDataError and a diagnostic line, since a run would send nothing of
// it. A file of S3 records that are all 0xFF is loaded as any other.
LoadReport LoadForProgramming(const char* text, std::size_t length, FlashImage& image);
