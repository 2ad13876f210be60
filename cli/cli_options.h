#pragma once

// What the command line asked for, once parsed and checked, and where a command
// writes. Commands take both, so tests run them in-process on captured streams.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/db_options.h"
#include "cli/job_options.h"
#include "flash/flash_image.h"
#include "flash/program_image.h"
#include "run/firmware_file.h"
#include "link/link.h"

enum class CliCommand { kIdentity, kProgram, kInspect, kBatch, kDb, kRead, kCompare, kJob };

constexpr const char kBoardAddress[] = "192.168.167.100";  // the board's fixed address

struct CliOptions {
  CliCommand command = CliCommand::kIdentity;
  std::string board = kBoardAddress;
  bool json = false;   // one JSON object on the result stream, nothing else there
  std::string usageError;  // why the command line was refused (64), for the JSON object
  bool quiet = false;  // no progress and no informational lines
  std::string file;
  InputChoice input;  // the file's format, and a raw binary's base address
  // Empty with the flag false: take the board's current one (program) or the
  // file's own (inspect).
  bool revisionGiven = false;
  std::string revision;
  bool serialGiven = false;
  std::string serial;
  std::string expectHardware;  // empty: any board
  std::string logFile;         // empty: no run log
  VerifyMode verify = VerifyMode::kNone;  // read back before the lock: the frames, or the whole flash
  std::string traceFile;       // empty: no trace of the exchanges
  std::string pcapFile;        // empty: no capture of the link's packets
  bool skipIfSame = false;     // program: read back first, and leave a board that holds the image
  // read
  std::string outFile;                    // the dump: raw bytes when it ends in .bin, else S-records
  std::uint32_t rangeStart = 0;           // flash addresses read, the end not included
  std::uint32_t rangeEnd = kFlashSize;
  // The network ports the board is reached through, each socket tied to its
  // port; empty: whichever the routes choose. batch runs one slot per port.
  std::vector<std::string> interfaces;
  // batch
  std::string serialFrom;      // the first serial number of the range
  std::string stateFile;       // holds the next serial number
  int count = 0;               // 0: until stopped or no board comes
  bool allowRepeat = false;    // program a board that carries a serial of this state
  int waitSeconds = 600;       // for a board to come, or to go
  // the station database (program, batch, db)
  std::string dbTarget;        // a SQLite file or a postgresql:// URL; empty: none
  std::string operatorName;    // empty: the user tovrin-cli runs as
  DbOptions db;
  JobOptions job;              // --job and --trusted-key (program, batch), and job
  // Not on the command line: the board's own waits, shorter in tests.
  LinkWaits waits = kBoardWaits;
};

struct CliStreams {
  std::FILE* out;  // the result: a report for people, or the JSON object
  std::FILE* err;  // usage errors; under --json also progress and diagnostics
};

// Where progress, notes and the core's diagnostic lines go: standard error
// under --json, so the result stream holds nothing but the object.
inline std::FILE* DiagnosticStream(const CliOptions& options, const CliStreams& streams) {
  return options.json ? streams.err : streams.out;
}
