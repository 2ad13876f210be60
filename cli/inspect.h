#pragma once

// What a programming run would make of an S-record file, told without a board:
// the loader's verdict and the record it stopped at, the bytes the file fills,
// the frames the run would send and the records it would pass over. The frames
// come from the run's own block scan (NextBlockStart), not from a copy of it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "flash/flash_image.h"
#include "link/frames.h"

struct ByteRange {
  std::uint32_t first;
  std::uint32_t last;  // inclusive
};

struct FramePlan {
  int count = 0;
  std::uint32_t first = 0;  // start addresses of the first and last frame, when count > 0
  std::uint32_t last = 0;
  // Bytes other than 0xFF that no frame carries: the scan stops short of the
  // flash's last bytes, so data there never reaches the board.
  std::uint32_t unsentBytes = 0;
  std::uint32_t firstUnsent = 0;
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
  int load = kLoadOk;          // a LoadResult
  std::string loaderLine;      // the loader's diagnostic, when the load failed
  std::size_t badLine = 0;     // the record the load stopped at (line from 1; 0: none)
  std::string badRecord;       // cut at kQuotedRecordMax characters
  std::array<int, kRecordTypes> records{};  // records by type S0..S9
  std::vector<ByteRange> data;              // bytes other than 0xFF, as the file fills them
  IdentityBlock fileIdentity{};             // the file's bytes at 0x420
  std::string stampRevision;                // what the frames below were planned with
  std::string stampSerial;
  bool stampAssumed = false;   // a part of the stamp is neither given nor the file's
  FramePlan frames;            // empty when the load failed: nothing would be sent
};

constexpr std::size_t kQuotedRecordMax = 4 + 2 * 255;  // the longest record a count allows

// Analyses file text already in memory. The loader's LogLine output is produced
// as by a run (repeatedly, while the offending record is searched for): callers
// that report it themselves capture it.
FileReport AnalyzeSRecordText(const char* text, std::size_t length, const StampChoice& stamp);

// The frames a run sends from an image already stamped.
FramePlan PlanFrames(const FlashImage& stamped);

// The stretches of bytes other than 0xFF.
std::vector<ByteRange> DataRanges(const FlashImage& image);

// The frames a run of this file with this stamp sends: 0 and plan filled, or the
// load's result (kLoadDataError, kLoadChecksumError; kProgramFileNotOpened when
// the file cannot be opened).
int PlanRunFromFile(const char* fileName, const char* serialNumber, const char* revision, FramePlan& plan);
