#include "station_ui/request_guard.h"

namespace station_ui {

namespace {

// "name:port" or "name" (port 80); IPv6 literals are not served.
bool HostNamesStation(const GuardSettings& settings, const RequestFacts& request) {
  std::string_view host = request.host;
  std::string_view name = host;
  std::string port = "80";
  if (const std::size_t colon = host.rfind(':'); colon != std::string_view::npos) {
    name = host.substr(0, colon);
    port = std::string(host.substr(colon + 1));
  }
  if (port != std::to_string(settings.port)) return false;
  return name == "localhost" || name == "127.0.0.1" || (!name.empty() && name == request.localAddress);
}

std::string BearerToken(std::string_view authorization) {
  constexpr std::string_view kBearer = "Bearer ";
  if (authorization.substr(0, kBearer.size()) != kBearer) return "";
  return std::string(authorization.substr(kBearer.size()));
}

}  // namespace

bool SameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

std::string CookieValue(std::string_view header, std::string_view name) {
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t end = header.find(';', at);
    if (end == std::string_view::npos) end = header.size();
    std::string_view pair = header.substr(at, end - at);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=') {
      return std::string(pair.substr(name.size() + 1));
    }
    at = end + 1;
  }
  return "";
}

GuardVerdict CheckRequest(const GuardSettings& settings, const RequestFacts& request) {
  GuardVerdict verdict;
  if (!HostNamesStation(settings, request)) {
    verdict.status = 403;
    verdict.reason = "This station answers only to its own address.";
    return verdict;
  }
  if (!request.loopback) {
    verdict.role = Role::kViewer;
    const bool byQuery = SameSecret(request.queryToken, settings.viewToken);
    const bool known = byQuery || SameSecret(CookieValue(request.cookie, kViewCookie), settings.viewToken) ||
                       SameSecret(BearerToken(request.authorization), settings.viewToken);
    if (settings.viewToken.empty() || !known) {
      verdict.status = 401;
      verdict.reason = "This view needs the station's view token.";
      return verdict;
    }
    if (request.stateChanging) {
      verdict.status = 403;
      verdict.reason = "This is a read-only view of the line.";
      return verdict;
    }
    verdict.setViewCookie = byQuery;
    return verdict;
  }
  verdict.role = Role::kOperator;
  if (!request.stateChanging) return verdict;
  // The page's own origin is the one its Host names; a browser always sends
  // Origin with a script's POST.
  if (request.origin != "http://" + request.host) {
    verdict.status = 403;
    verdict.reason = "Refused: the request did not come from the station's page.";
    return verdict;
  }
  if (!SameSecret(request.tokenHeader, settings.operatorToken)) {
    verdict.status = 403;
    verdict.reason = "Refused: the request did not carry this run's token. Reload the page.";
    return verdict;
  }
  return verdict;
}

}  // namespace station_ui
