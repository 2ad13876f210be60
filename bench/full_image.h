#pragma once

// The image the benchmarks program: the whole flash in random bytes (never
// 0xFF, so that no stretch is skipped as blank and every one of the 2047 frames
// goes out), and its S-record file, written once and removed at exit.

#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "flash/flash_image.h"
#include "tests/support/srecord_text.h"

namespace bench {

constexpr int kFullImageFrames = 2047;     // starts 0x0 .. 0x1FF80; the last 64 bytes are never sent
constexpr std::uint32_t kRecordData = 32;  // bytes per S3 record, as typical linkers write them

inline std::vector<std::uint8_t> FullImage() {
  std::mt19937 random(11);
  std::vector<std::uint8_t> image(kFlashSize);
  for (auto& b : image) b = static_cast<std::uint8_t>(random() % 255);
  return image;
}

class FullImageFile {
 public:
  FullImageFile() {
    char path[] = "/tmp/tovrin-bench-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) return;
    const std::vector<std::uint8_t> image = FullImage();
    std::string text = SRecord('0', 0, {'b', 'e', 'n', 'c', 'h'}) + "\n";
    for (std::uint32_t at = 0; at < kFlashSize; at += kRecordData) {
      text += S3(at, Bytes(image.begin() + at, image.begin() + at + kRecordData)) + "\n";
    }
    text += SRecord('7', 0, {}) + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    path_ = path;
    if (!written) path_.clear();
  }
  ~FullImageFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  FullImageFile(const FullImageFile&) = delete;
  FullImageFile& operator=(const FullImageFile&) = delete;
  const std::string& Path() const { return path_; }  // empty when it could not be written

 private:
  std::string path_;
};

inline const FullImageFile& ImageFile() {
  static const FullImageFile file;
  return file;
}

}  // namespace bench
