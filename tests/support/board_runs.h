#pragma once

// Files for whole programming runs and what a correct run leaves on the
// simulated board: shared by the tests of the run, the window and tovrin-cli.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sim/sim_board.h"
#include "tests/support/srecord_text.h"

using Runs = std::map<std::uint32_t, Bytes>;  // start address -> bytes from there

// S3 records of 32 bytes for each run, between an S0 header and an S7 end.
inline std::string S19(const Runs& runs) {
  std::string text = SRecord('0', 0, {'t', 'e', 's', 't'}) + "\n";
  for (const auto& [start, bytes] : runs) {
    for (std::size_t at = 0; at < bytes.size(); at += 32) {
      const auto end = bytes.begin() + static_cast<long>(std::min(bytes.size(), at + 32));
      text += S3(start + static_cast<std::uint32_t>(at), Bytes(bytes.begin() + static_cast<long>(at), end)) + "\n";
    }
  }
  return text + SRecord('7', 0, {}) + "\n";
}

// Never 0xFF, so that every byte is data a run must send.
inline Bytes Pattern(std::size_t length, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(length);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random() % 255);
  return bytes;
}

// The flash a correct run leaves: the file's bytes, then the identity stamp,
// whose NUL ends a serial number shorter than the record's 15 places.
inline std::vector<std::uint8_t> Expected(const Runs& runs, const std::string& serial, char revision) {
  std::vector<std::uint8_t> flash(0x20000, 0xFF);
  for (const auto& [start, bytes] : runs) std::copy(bytes.begin(), bytes.end(), flash.begin() + start);
  flash[0x420] = static_cast<std::uint8_t>(revision);
  std::copy(serial.begin(), serial.end(), flash.begin() + 0x421);
  if (serial.size() < 15) flash[0x421 + serial.size()] = 0;
  return flash;
}

// Identity records that no text option gives a board: a blank one (all 0xFF),
// and one whose serial number holds the byte 0xE9 (é in Latin-1), followed by
// its NUL, two blank bytes and the hardware code.
inline const std::string kBlankIdentity(16, '\xFF');
inline const std::string kAccentedIdentity("BSN\xE9" "001\0\xFF\xFFVR32\xFF\xFF", 16);

// The distinct program frames the board got, in order; a UDP resend of the same
// frame counts once.
inline std::vector<std::uint32_t> Frames(const SimBoard& sim, bool acceptedOnly = true) {
  std::vector<std::uint32_t> frames;
  int lastSequence = -1;
  for (const SimEvent& e : sim.Events()) {
    if (e.command != 'p' || (acceptedOnly && !e.accepted)) continue;
    if (e.udp && e.sequence == lastSequence) continue;
    lastSequence = e.sequence;
    frames.push_back(e.address);
  }
  return frames;
}

inline bool AnyCommand(const SimBoard& sim, char command) {
  const auto events = sim.Events();
  return std::any_of(events.begin(), events.end(), [command](const SimEvent& e) { return e.command == command; });
}

// A UTF-8 name as a path, by the standard library's own conversion: the tool's
// file names are UTF-8 on every system, and on Windows a narrow std::string
// would be taken in the ANSI code page.
inline std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A folder of files for one test, removed when it ends. Names, and the paths
// handed out, are UTF-8, as the tool takes them.
class TempFiles {
 public:
  explicit TempFiles(const std::string& prefix = "run")
      : dir_(std::filesystem::path(testing::TempDir()) / Utf8Path(prefix + "_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
  }
  ~TempFiles() { std::filesystem::remove_all(dir_); }
  TempFiles(const TempFiles&) = delete;
  TempFiles& operator=(const TempFiles&) = delete;

  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / Utf8Path(name), std::ios::binary) << text;
    return Path(name);
  }
  std::string Path(const std::string& name) const {
    const std::u8string path = (dir_ / Utf8Path(name)).u8string();
    return std::string(path.begin(), path.end());
  }
  // The file's bytes; empty when it cannot be read.
  static std::string Read(const std::string& path) {
    std::ifstream in(Utf8Path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path dir_;
};
