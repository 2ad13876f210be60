#include "cli/json_report.h"

#include <cmath>

#include "cli/text_output.h"

std::string JsonLine(const Json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
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

Json CauseJson(LinkCommand command, const LinkOutcome& outcome, int frame, std::uint32_t address) {
  if (outcome.Accepted()) return nullptr;
  Json cause{{"command", CommandName(command)}};
  if (command == LinkCommand::kProgram) {
    cause["frame"] = frame;
    cause["address"] = FlashAddress(address);
  }
  cause["what"] = DescribeOutcome(outcome);
  return cause;
}

std::string CauseText(LinkCommand command, const LinkOutcome& outcome, int frame, std::uint32_t address) {
  std::string text = CommandName(command);
  if (command == LinkCommand::kProgram) text += " frame " + std::to_string(frame) + " at " + FlashAddress(address);
  return text + ": " + DescribeOutcome(outcome);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return std::round(elapsed.count() * 1000.0) / 1000.0;
}
