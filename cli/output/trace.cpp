#include "cli/output/trace.h"

#include <cerrno>
#include <cstring>

#include "run/run_record.h"
#include "cli/output/text_output.h"
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

// Requests and replies both carry the command letter second.
Json CommandOf(std::uint8_t letter) {
  switch (letter) {
    case frame::kRead: return "read";
    case frame::kErase: return "erase";
    case frame::kProgram: return "program";
    case frame::kLock: return "lock";
  }
  return nullptr;
}

std::uint32_t WordAt(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
         static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}

std::string DottedAddress(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace

CliTrace::~CliTrace() {
  if (file_ != nullptr) std::fclose(file_);
}

bool CliTrace::Open(const std::string& path, std::string& error) {
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) {
    error = "Cannot open the trace " + path + ": " + std::strerror(errno);
    return false;
  }
  start_ = std::chrono::steady_clock::now();
  return true;
}

void CliTrace::Trace(const LinkTraceEvent& e) { Write(e, 0, ""); }

void CliTrace::Write(const LinkTraceEvent& e, int slot, const std::string& interfaceName) {
  if (file_ == nullptr) return;
  // The clock is read under the lock, so the lines of all slots keep time order.
  std::lock_guard lock(mutex_);
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
    const int h = FrameHeader(e.mode);
    const std::uint8_t* b = e.bytes;
    const int n = e.length;
    line["seq"] = h != 0 && n > 0 ? Json(b[0]) : Json(nullptr);
    line["command"] = n > h + 1 ? CommandOf(b[h + 1]) : Json(nullptr);
    const bool addressed = n >= h + frame::kAddressAt + 4 && (b[h + 1] == frame::kRead || b[h + 1] == frame::kProgram);
    line["address"] = addressed ? Json(FlashAddress(WordAt(b + h + frame::kAddressAt))) : Json(nullptr);
    line["length"] = n;
    line["bytes"] = HexBytes(b, static_cast<std::size_t>(n));
    if (e.kind == LinkTraceEvent::kPassedOver) line["from"] = DottedAddress(e.fromAddress);
  }
  const std::string text = JsonLine(line) + "\n";
  std::fwrite(text.data(), 1, text.size(), file_);
  // A run that ends in a crash or a kill still leaves what it sent.
  std::fflush(file_);
}
