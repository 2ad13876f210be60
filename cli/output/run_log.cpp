#include "cli/output/run_log.h"

#include <ctime>
#include <string>

#include "os/files.h"
#include "os/host.h"
#include "cli/output/record_file.h"
#include "cli/output/text_output.h"

namespace {

std::string UtcNow() {
  const std::tm utc = UtcTime(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

int OpenRunLog(const std::string& path, std::string& reason) { return OpenRecordFile(path, reason); }

LogWrite AppendRunLog(int fd, const Json& record) {
  Json line{{"time", UtcNow()}};
  for (const auto& [key, value] : record.items()) line[key] = value;
  std::string text = JsonLine(line) + "\n";
  if (EndsMidLine(fd)) text.insert(text.begin(), '\n');

  LogWrite result;
  result.reason = AppendText(fd, text);
  result.written = result.reason.empty();
  return result;
}
