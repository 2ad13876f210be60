#pragma once

// Who may do what with the station, decided from a request's facts alone (no
// sockets here, so every case is tested as a table).
//   - The Host header must name the address the client reached, "localhost" or
//     127.0.0.1, with the station's port: a page from elsewhere whose name was
//     made to point at this PC (DNS rebinding) is refused.
//   - A client that reached the station over loopback is the operator. Every
//     state-changing request of the operator must come from the page's own
//     origin and carry the run's token, which the page got embedded in it.
//   - Any other client is a viewer: it needs the view token (a cookie set once
//     from ?token=, or "Authorization: Bearer TOKEN"); without it every request
//     is refused (401), and with it every state-changing request is (403).

#include <string>
#include <string_view>

namespace station_ui {

enum class Role { kOperator, kViewer };

struct GuardSettings {
  unsigned short port = 0;
  std::string operatorToken;  // the run's token the operator's page carries
  std::string viewToken;      // empty: no viewers at all
};

struct RequestFacts {
  bool loopback = false;      // the client reached a loopback address
  std::string localAddress;   // the station's address the client reached
  bool stateChanging = false;
  std::string host;
  std::string origin;         // empty: no Origin header
  std::string tokenHeader;    // X-Tovrin-Token
  std::string cookie;         // the Cookie header, whole
  std::string authorization;  // the Authorization header
  std::string queryToken;     // ?token=
};

struct GuardVerdict {
  int status = 200;  // 200: go ahead; else 401 or 403
  Role role = Role::kViewer;
  const char* reason = "";
  bool setViewCookie = false;  // the view token came in the query: keep it in a cookie
};

constexpr const char kViewCookie[] = "tovrin_view";
constexpr const char kTokenHeader[] = "X-Tovrin-Token";

GuardVerdict CheckRequest(const GuardSettings& settings, const RequestFacts& request);

// Compares in time that does not depend on where the texts differ.
bool SameSecret(std::string_view a, std::string_view b);

// The value of one cookie in a Cookie header; empty when absent.
std::string CookieValue(std::string_view header, std::string_view name);

}  // namespace station_ui
