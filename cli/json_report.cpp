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
  if (session.mode != kLinkTcp && session.mode != kLinkUdp) return nullptr;
  return LinkTypeText(session.mode);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return std::round(elapsed.count() * 1000.0) / 1000.0;
}
