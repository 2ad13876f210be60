#pragma once

// What a loader saw on its way through a file, beyond its verdict: the records
// or segments it read and what it accepted without a word. A front end such as
// tovrin-cli inspect only formats these; it never reads the file a second time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The file formats the loaders read. kAuto asks LoadImage to tell from the
// content; a report always names the format that was read (or tried).
enum class ImageFormat { kAuto, kSRecord, kIntelHex, kElf, kBinary };

namespace stats_const {
constexpr int kSRecordTypes = 10;   // S0..S9
constexpr int kIntelHexTypes = 6;   // 00 data .. 05 start linear address
}  // namespace stats_const

// One entry of an ELF file's program header table and what the loader did with it.
struct ElfSegment {
  std::size_t index = 0;       // in the program header table, from 0
  std::uint32_t type = 0;      // p_type
  std::uint64_t offset = 0;    // bytes into the file
  std::uint64_t physical = 0;  // p_paddr: where the bytes go in the flash
  std::uint64_t virtualAddress = 0;
  std::uint64_t fileBytes = 0;    // p_filesz: the bytes programmed
  std::uint64_t memoryBytes = 0;  // p_memsz; the rest beyond fileBytes is zeroed at run time, not programmed
  bool loaded = false;
  std::string skipped;  // why a segment was not loaded; empty when it was
};

struct LoadStats {
  // S-records: the tokens that look like records ("S", a type digit, two hex
  // digits), by type; S3 counts every token the loader read as one. Counted up
  // to where a load stopped.
  std::array<std::size_t, stats_const::kSRecordTypes> sRecords{};
  // Text after an S3 record's checksum is dropped with it: two records glued
  // together lose the second.
  std::size_t gluedRecords = 0;
  std::size_t firstGluedLine = 0;

  // Intel HEX: records by type, up to where a load stopped.
  std::array<std::size_t, stats_const::kIntelHexTypes> hexRecords{};
  bool hexEndRecord = false;         // the end-of-file record was read
  std::size_t textAfterEndLine = 0;  // line of the first text after it (passed over); 0: none

  // ELF: the header's class and byte order, and every program header entry read.
  int elfBits = 0;  // 32 or 64; 0 before the header was read
  bool elfBigEndian = false;
  std::vector<ElfSegment> segments;

  // Raw binary: where its first byte went.
  std::uint32_t base = 0;

  // Every format: the bytes the file gave, and addresses given different bytes
  // twice (the later wins).
  std::size_t dataBytes = 0;
  std::size_t conflictingBytes = 0;
  std::uint32_t firstConflict = 0;
};
