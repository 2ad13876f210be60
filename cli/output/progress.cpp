#include "cli/output/progress.h"

#include <algorithm>
#include <string>

#include "os/console.h"
#include "os/stop.h"

namespace {
constexpr int kBarWidth = 40;     // characters between the brackets
constexpr int kLineSteps = 10;    // a line at every tenth of the frames
}  // namespace

ProgressStyle ChooseProgressStyle(std::FILE* stream, bool quiet) {
  if (quiet) return ProgressStyle::kNone;
  return IsTerminal(stream) ? ProgressStyle::kBar : ProgressStyle::kLines;
}

void CliProgress::Start(int total, const char* done, const char* unit) {
  EndLine();
  total_ = total;
  doneWord_ = done;
  unit_ = unit;
  shownStep_ = -1;
}

void CliProgress::RunStarted(int frames) { Start(frames, "programmed", "frames"); }

void CliProgress::FrameAcknowledged(int index, std::uint32_t) { Show(index + 1); }

void CliProgress::ReadStarted(int reads) { Start(reads, "read", "blocks"); }

void CliProgress::BlockRead(int index, std::uint32_t) { Show(index + 1); }

void CliProgress::Show(int done) {
  if (style_ == ProgressStyle::kNone || total_ == 0) return;
  const int shown = done < total_ ? done : total_;
  const int percent = shown * 100 / total_;
  if (style_ == ProgressStyle::kBar) {
    const int width = shown * kBarWidth / total_;
    if (width == shownStep_) return;
    shownStep_ = width;
    std::fprintf(stream_, "\r[%s%s] %3d%% %d/%d %s", std::string(static_cast<std::size_t>(width), '#').c_str(),
                 std::string(static_cast<std::size_t>(kBarWidth - width), ' ').c_str(), percent, shown, total_, unit_);
    barOpen_ = true;
  } else {
    const int step = shown * kLineSteps / total_;
    if (step == shownStep_) return;
    shownStep_ = step;
    std::fprintf(stream_, "%s %d of %d %s (%d%%)\n", doneWord_, shown, total_, unit_, percent);
  }
  std::fflush(stream_);
}

void CliProgress::RunEnded(int, int) { EndLine(); }

void CliProgress::ReadEnded(bool) { EndLine(); }

void CliProgress::EndLine() {
  if (barOpen_) std::fputc('\n', stream_);
  barOpen_ = false;
  std::fflush(stream_);
}

bool CliProgress::StopRequested() { return InterruptStatus() != 0; }
