#include "cli/run_log.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <memory>

#include "cli/text_output.h"

namespace {

constexpr std::size_t kHashReadSize = 64 * 1024;
constexpr mode_t kLogFileMode = 0644;

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
struct DigestFreer {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

}  // namespace

std::string FileSha256(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  std::unique_ptr<EVP_MD_CTX, DigestFreer> context(EVP_MD_CTX_new());
  if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return "";
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kHashReadSize]);
  for (;;) {
    const std::size_t n = std::fread(buffer.get(), 1, kHashReadSize, file.get());
    if (n > 0 && EVP_DigestUpdate(context.get(), buffer.get(), n) != 1) return "";
    if (n < kHashReadSize) break;
  }
  if (std::ferror(file.get())) return "";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return "";
  std::string hex = HexBytes(digest, length);
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return hex;
}

int OpenRunLog(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
}

bool AppendRunLog(int fd, const Json& record) {
  Json line{{"time", UtcNow()}};
  for (const auto& [key, value] : record.items()) line[key] = value;
  const std::string text = JsonLine(line) + "\n";
  return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}
