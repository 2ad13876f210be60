#include "cli/json_report.h"

#include <cmath>
#include <cstdio>

#include "cli/interrupt.h"
#include "cli/text_output.h"
#include "flash/image_format.h"

std::string JsonLine(const Json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

namespace {

// The length of the UTF-8 character at text[at], or 0 when none starts there.
std::size_t Utf8CharLength(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

bool IsUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8CharLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace

Json FileNameJson(const std::string& name) {
  if (IsUtf8(name)) return name;
  std::string shown;
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t length = Utf8CharLength(name, at);
    if (length == 0 || name[at] == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(name[at]));
      shown += escaped;
      ++at;
    } else {
      shown.append(name, at, length);
      at += length;
    }
  }
  return shown;
}

void AddFileName(Json& report, const std::string& name) {
  report["file"] = FileNameJson(name);
  if (!IsUtf8(name)) {
    report["file_hex"] = HexBytes(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
  }
}

Json IdentityJson(const BoardSession& session) {
  if (!session.identityRead) return nullptr;
  return Json{{"revision", session.texts.revision},
              {"serial", session.texts.serialNumber},
              {"hardware", session.texts.hardware},
              {"bytes", HexBytes(session.block.data(), session.block.size())}};
}

Json LinkJson(const BoardSession& session) {
  if (!session.connected) return nullptr;
  return LinkTypeText(session.link.mode);
}

Json FormatJson(bool read, const LoadReport& load) {
  if (!read || load.format == ImageFormat::kAuto) return nullptr;
  return FormatName(load.format);
}

std::optional<Cause> OutcomeCause(LinkCommand command, const LinkOutcome& outcome, int frame,
                                  std::uint32_t address) {
  if (outcome.Accepted()) return std::nullopt;
  Cause cause{CommandName(command), 0, 0, DescribeOutcome(outcome)};
  if (command == LinkCommand::kProgram) {
    cause.frame = frame;
    cause.address = address;
  }
  return cause;
}

std::optional<Cause> RunCause(const BoardSession& session, bool started, const ProgramRun& run) {
  if (run.result == kProgramInterrupted) {
    const char* by = InterruptStatus() == kInterruptedBySigterm ? "SIGTERM" : "Ctrl+C";
    Cause cause;
    if (!started) {
      cause.what = std::string("stopped by ") + by + " after connecting; nothing was erased";
      return cause;
    }
    // The command (and frame) the run did not send.
    cause.command = CommandName(run.command);
    if (run.command == LinkCommand::kProgram) {
      cause.frame = run.frame;
      cause.address = run.address;
    }
    cause.what = std::string("stopped by ") + by + " before it was sent; the board is not locked";
    return cause;
  }
  if (started) return OutcomeCause(run.command, run.outcome, run.frame, run.address);
  if (session.connected) return OutcomeCause(LinkCommand::kRead, session.identityOutcome);
  return std::nullopt;
}

Json CauseJson(const std::optional<Cause>& cause) {
  if (!cause) return nullptr;
  Json json = Json::object();
  if (cause->command != nullptr) json["command"] = cause->command;
  if (cause->frame > 0) {
    json["frame"] = cause->frame;
    json["address"] = FlashAddress(cause->address);
  }
  json["what"] = cause->what;
  return json;
}

std::string CauseText(const Cause& cause) {
  std::string text = cause.command != nullptr ? cause.command : "";
  if (cause.frame > 0) text += " frame " + std::to_string(cause.frame) + " at " + FlashAddress(cause.address);
  return (text.empty() ? "" : text + ": ") + cause.what;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return std::round(elapsed.count() * 1000.0) / 1000.0;
}
