#pragma once

// What a programming run would make of a file, told without a board: the
// loader's verdict and the record it stopped at, the bytes the file fills, the
// frames the run would send, and what the loader read and passed over (its own
// statistics: the file is not read a second time). The frames come from the
// run's own frame plan, not from a copy of it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "run/firmware_file.h"
#include "flash/flash_image.h"
#include "flash/frame_plan.h"
#include "link/frames.h"

struct ByteRange {
  std::uint32_t first;
  std::uint32_t last;  // inclusive
};

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
  bool fileRead = false;       // the bytes were read, whatever the loader made of them
  LoadReport loaded;           // where and why the load stopped, the format and what was read
  std::vector<ByteRange> data;              // bytes other than 0xFF, as the file fills them
  IdentityBlock fileIdentity{};             // the file's bytes at 0x420
  std::string stampRevision;                // what the frames below were planned with
  std::string stampSerial;
  bool stampAssumed = false;   // a part of the stamp is neither given nor the file's
  FramePlan frames;            // empty when the load failed: nothing would be sent
};

// Analyses a file already in memory, loaded as a run loads it; the loader's
// diagnostic lines are in `loaded`.
FileReport AnalyzeFile(const char* bytes, std::size_t length, const InputChoice& input, const StampChoice& stamp);

// The stretches of bytes other than 0xFF.
std::vector<ByteRange> DataRanges(const FlashImage& image);
