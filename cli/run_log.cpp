#include "cli/run_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <memory>

#include "cli/text_output.h"

namespace {

constexpr mode_t kLogFileMode = 0644;

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}


}  // namespace

int OpenRunLog(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
}

bool AppendRunLog(int fd, const Json& record) {
  Json line{{"time", UtcNow()}};
  for (const auto& [key, value] : record.items()) line[key] = value;
  const std::string text = JsonLine(line) + "\n";
  return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}
