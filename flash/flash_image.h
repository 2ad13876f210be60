#pragma once

// The picture of the board's 128 KiB flash that a programming run sends, and the
// S-record loader that fills it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr std::uint32_t kFlashSize = 0x20000;
constexpr std::uint8_t kErasedByte = 0xFF;

// One byte per flash offset; 0xFF (erased) wherever no record wrote.
using FlashImage = std::array<std::uint8_t, kFlashSize>;

enum LoadResult : int {
  kLoadOk = 0,
  kLoadDataError = 1,      // data outside the flash, or a record that cannot be read
  kLoadChecksumError = 2,  // a record whose checksum does not match
};

// Fills image from the S3 records of an open text file; every other record type
// and any other text is passed over. The caller opens and closes the file.
int LoadSRecordImage(std::FILE* file, FlashImage& image);

// The same, from text already in memory.
int LoadSRecordText(const char* text, std::size_t length, FlashImage& image);
