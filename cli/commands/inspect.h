#pragma once

// What a programming run would make of an S-record file, told without a board:
// the loader's verdict and the record it stopped at, the bytes the file fills,
// the frames the run would send and the records it would pass over. The frames
// come from the run's own frame plan, not from a copy of it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "flash/flash_image.h"
#include "flash/frame_plan.h"
#include "link/frames.h"

struct ByteRange {
  std::uint32_t first;
  std::uint32_t last;  // inclusive
};

constexpr int kRecordTypes = 10;  // S0..S9

// The identity a run would stamp. A part not given is taken from the file's own
// record when that is plain text, otherwise assumed (kAssumedRevision, no serial).
struct StampChoice {
  bool revisionGiven = false;
  std::string revision;
  bool serialGiven = false;
  std::string serial;
};
constexpr const char kAssumedRevision[] = "A";

struct FileReport {
  int load = kLoadOk;          // a LoadResult, or kProgramFileNotOpened
  std::string loaderLine;      // the loader's diagnostic, when the load failed
  LoadReport loaded;           // where and why the load stopped
  std::array<int, kRecordTypes> records{};  // records by type S0..S9
  std::vector<ByteRange> data;              // bytes other than 0xFF, as the file fills them
  IdentityBlock fileIdentity{};             // the file's bytes at 0x420
  std::string stampRevision;                // what the frames below were planned with
  std::string stampSerial;
  bool stampAssumed = false;   // a part of the stamp is neither given nor the file's
  FramePlan frames;            // empty when the load failed: nothing would be sent
  // What the loader accepts without a word. Text after an S3 record's checksum
  // is dropped with it: two records glued together lose the second.
  std::size_t gluedRecords = 0;
  std::size_t firstGluedLine = 0;
  // Addresses that two S3 records give different bytes; the later record wins.
  std::size_t conflictingBytes = 0;
  std::uint32_t firstConflict = 0;
};

// Analyses file text already in memory. The loader's LogLine output is produced
// as by a run: callers that report it themselves capture it.
FileReport AnalyzeSRecordText(const char* text, std::size_t length, const StampChoice& stamp);

// The stretches of bytes other than 0xFF.
std::vector<ByteRange> DataRanges(const FlashImage& image);
