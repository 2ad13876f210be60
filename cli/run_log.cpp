#include "cli/run_log.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "cli/cli_platform.h"
#include "cli/sha256.h"

namespace {

constexpr std::size_t kHashReadSize = 64 * 1024;

std::string UtcNow() {
  const std::tm utc = UtcTime(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::string FileSha256(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return "";
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> chunk(kHashReadSize);
  for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0;) {
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<long>(n));
  }
  if (std::ferror(file.get())) return "";
  return Sha256Hex(bytes.data(), bytes.size());
}

int OpenRunLog(const std::string& path) { return OpenAppendFile(path); }

bool AppendRunLog(int fd, const Json& record) {
  Json line{{"time", UtcNow()}};
  for (const auto& [key, value] : record.items()) line[key] = value;
  const std::string text = JsonLine(line) + "\n";
  return AppendText(fd, text);
}
