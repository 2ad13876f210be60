#pragma once

// The file a run sends, read once into memory: the bytes that are hashed,
// inspected and sent are the same bytes, whatever happens to the file
// afterwards. "-" reads standard input to its end.

#include <cstddef>
#include <memory>
#include <string>

#include "flash/flash_image.h"
#include "flash/load_stats.h"
#include "flash/program_image.h"
#include "os/files.h"

constexpr const char kStandardInputName[] = "-";
// No firmware file of a 128 KiB image comes near this; a larger one is not read.
constexpr std::size_t kMaxFirmwareBytes = 64u << 20;

// How a file is read: its format (told from the content unless asked for)
// and, for raw binary, where its first byte goes.
struct InputChoice {
  ImageFormat format = ImageFormat::kAuto;
  std::uint32_t base = 0;
  bool baseGiven = false;
};

// The approved job a file was released by (docs/jobs.md), as records name it;
// an empty name: the run had no job.
struct ApprovedJob {
  std::string name;
  std::string sha256;  // of the job file's bytes
  std::string signer;  // the signing key's fingerprint; empty: the job was not signed
};

struct FirmwareFile {
  std::string name;
  int result = kProgramDone;  // or 1, 2, 6: what ends a run before any board
  bool read = false;          // the bytes were read (the load may still have failed)
  std::string reason;         // why the file could not be read
  std::size_t size = 0;       // bytes read
  std::string sha256;         // of the bytes read
  LoadReport load;
  std::unique_ptr<FlashImage> image = std::make_unique<FlashImage>();
  ApprovedJob job;  // set once the file was checked against its job

  bool Usable() const { return result == kProgramDone; }
};

// The file's bytes alone, capped at kMaxFirmwareBytes: "-" is standard input.
FileBytes ReadFirmwareBytes(const std::string& name);

// Reads, hashes and loads a file as a run loads it: kProgramFileNotOpened when
// it cannot be opened or is not a regular file, kProgramDataError when it cannot
// be read whole, is over kMaxFirmwareBytes or gives no data to program, else the
// loader's result. load.format names the format read.
FirmwareFile ReadFirmware(const std::string& name, const InputChoice& input = {});
