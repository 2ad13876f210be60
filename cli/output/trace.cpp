#include "cli/output/trace.h"

#include "cli/output/record_file.h"
#include "cli/output/text_output.h"
#include "os/files.h"
#include "run/run_record.h"
#include "vocabulary/vocabulary.h"
#include "link/frames.h"

namespace {

const char* EventName(LinkTraceEvent::Kind kind) {
  switch (kind) {
    case LinkTraceEvent::kRequest: return "request";
    case LinkTraceEvent::kResend: return "resend";
    case LinkTraceEvent::kReply: return "reply";
    case LinkTraceEvent::kPassedOver: return "passed_over";
    case LinkTraceEvent::kTimeout: return "timeout";
  }
  return "unknown";
}

std::string DottedAddress(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace

CliTrace::~CliTrace() {
  if (fd_ >= 0) CloseAppendFile(fd_);
}

bool CliTrace::Open(const std::string& path, std::string& error) {
  std::string reason;
  fd_ = OpenRecordFile(path, reason);
  if (fd_ < 0) {
    error = "Cannot open the trace " + Printable(path) + ": " + reason;
    return false;
  }
  midLine_ = EndsMidLine(fd_);
  start_ = std::chrono::steady_clock::now();
  return true;
}

void CliTrace::Trace(const LinkTraceEvent& e) { Write(e, 0, ""); }

void CliTrace::Write(const LinkTraceEvent& e, int slot, const std::string& interfaceName) {
  // The clock is read under the lock, so the lines of all slots keep time order.
  std::lock_guard lock(mutex_);
  if (fd_ < 0 || !failure_.empty()) return;
  const auto us =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_).count();
  Json line{{"us", us}};
  if (slot > 0) line["slot"] = slot;
  if (!interfaceName.empty()) line["interface"] = interfaceName;
  line["event"] = EventName(e.kind);
  line["transport"] = LinkTypeText(e.mode);
  if (e.kind == LinkTraceEvent::kTimeout || e.bytes == nullptr) {
    line["wait_ms"] = e.length;
  } else {
    const FrameFields f = DecodeFrame(e.bytes, e.length, e.mode);
    line["seq"] = f.hasSequence ? Json(f.sequence) : Json(nullptr);
    line["command"] = f.hasCommand ? Json(CommandName(f.command)) : Json(nullptr);
    line["address"] = f.hasAddress ? Json(FlashAddress(f.address)) : Json(nullptr);
    line["length"] = e.length;
    line["bytes"] = HexBytes(e.bytes, static_cast<std::size_t>(e.length));
    if (e.kind == LinkTraceEvent::kPassedOver) line["from"] = DottedAddress(e.fromAddress);
  }
  // One write a line, unbuffered: a run that ends in a crash or a kill still
  // leaves what it sent, and a line cut by an earlier run stays apart.
  std::string text = JsonLine(line) + "\n";
  if (midLine_) text.insert(text.begin(), '\n');
  midLine_ = false;
  failure_ = AppendText(fd_, text);
}
