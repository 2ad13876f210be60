#pragma once

// The tovrin-station command line: the line's settings, as `tovrin-cli batch`
// takes them, and where the page is served.

#include <cstdio>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "job/job_check.h"

namespace station_ui {

struct StationOptions {
  // The line.
  std::string file;
  std::vector<std::string> interfaces;  // one slot per port; none: one slot on the routes' choice
  std::string serialFrom;
  bool scanSerials = false;  // --serial-source scan: each board's number is scanned at its slot
  std::string stateFile;
  std::string dbTarget;
  int count = 0;             // 0: until stopped
  std::string revision;      // empty: each board's current one
  std::string verify = "none";  // "none", "frames", "full"
  std::string expectHardware;
  std::string logFile;
  std::string traceFile;
  std::string pcapFile;
  // An approved job (docs/jobs.md): it fixes the file and the line's settings.
  std::string jobFile;
  std::vector<std::string> trustedKeys;  // --trusted-key, beside the station-wide folder
  std::vector<std::string> given;        // the options given beside --job, by name
  // Not on the command line: the station-wide folder of trusted keys; tests
  // give one of their own.
  std::string trustFolder = StationTrustFolder();
  // The page.
  std::string listenAddress = "127.0.0.1";
  unsigned short listenPort = 8765;
  bool noBrowser = false;
  std::string viewTokenFile;
};

// Returned by ParseStationArgs when the station is to run.
constexpr int kRunStation = -1;
constexpr int kUsageExit = exit_code::kUsage;

// Fills options from argv (UTF-8). Returns kRunStation, 0 after printing help
// or the version to `out`, or kUsageExit after printing the reason to `err`;
// started with nothing to run, it says how to give the line its settings.
int ParseStationArgs(int argc, const char* const* argv, StationOptions& options, std::FILE* out, std::FILE* err);

// "ADDR:PORT" with a dotted IPv4 address; empty when good, else why not.
std::string ParseListen(const std::string& text, std::string& address, unsigned short& port);

}  // namespace station_ui
