#include "cli/run_log.h"

#include <ctime>
#include <string>

#include "cli/cli_platform.h"
#include "cli/text_output.h"

namespace {

std::string UtcNow() {
  const std::tm utc = UtcTime(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

int OpenRunLog(const std::string& path) { return OpenAppendFile(path); }

bool AppendRunLog(int fd, const Json& record) {
  Json line{{"time", UtcNow()}};
  for (const auto& [key, value] : record.items()) line[key] = value;
  const std::string text = JsonLine(line) + "\n";
  return AppendText(fd, text);
}
