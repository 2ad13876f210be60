// How fast a full-image S-record file (every byte of the flash written, 32 data
// bytes per record) turns into a FlashImage, from memory and from a file.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "flash/flash_image.h"
#include "tests/support/srecord_text.h"

namespace {

constexpr std::uint32_t kRecordData = 32;  // bytes per record, as typical linkers write them

const std::string& FullImageText() {
  static const std::string text = [] {
    std::mt19937 random(7);
    std::string s = SRecord('0', 0, {'b', 'e', 'n', 'c', 'h'}) + "\n";
    for (std::uint32_t address = 0; address < kFlashSize; address += kRecordData) {
      Bytes data(kRecordData);
      for (auto& b : data) b = static_cast<std::uint8_t>(random());
      s += S3(address, data) + "\n";
    }
    return s + SRecord('7', 0, {}) + "\n";
  }();
  return text;
}

void FromMemory(benchmark::State& state) {
  const std::string& text = FullImageText();
  auto image = std::make_unique<FlashImage>();
  for (auto _ : state) {
    if (LoadSRecordText(text.data(), text.size(), *image).result != kLoadOk) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(image->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// Opening and closing are timed too: they are part of every programming run.
void FromFile(benchmark::State& state) {
  const std::string& text = FullImageText();
  char path[] = "/tmp/srecord-bench-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot write the S-record file");
    return;
  }
  ::close(fd);
  auto image = std::make_unique<FlashImage>();
  for (auto _ : state) {
    std::FILE* file = std::fopen(path, "r");
    if (!file || LoadSRecordImage(file, *image).result != kLoadOk) state.SkipWithError("load failed");
    if (file) std::fclose(file);
    benchmark::DoNotOptimize(image->data());
  }
  ::unlink(path);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

BENCHMARK(FromMemory)->Unit(benchmark::kMicrosecond);
BENCHMARK(FromFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
