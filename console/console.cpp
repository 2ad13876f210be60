#include "console/console.h"

#include <utility>

#include "console/operations.h"
#include "link/protocol.h"

namespace {

void ClearIdentity(ConsoleState& state) {
  state.revision.clear();
  state.serialNumber.clear();
  state.hardware.clear();
}

}  // namespace

void ShowDisconnected(ConsoleState& state, ConsoleWindow& window) {
  ClearIdentity(state);
  state.commType.clear();
  window.Show(state);
  window.Enable(ConsoleButton::kDisconnect, false);
  window.Enable(ConsoleButton::kProgram, false);
  window.Enable(ConsoleButton::kConnect, true);
}

void CloseConsoleLink(ConsoleState& state, ConsoleWindow& window) {
  const int closed = CloseLink(state.link);
  if (closed != 0) window.Message(FormatMessage(msg::kConnectFailed, closed));
}

std::string BuildIpString(ConsoleState& state, ConsoleWindow& window) {
  if (!window.Fetch(state)) return "";
  return state.octet[0] + "." + state.octet[1] + "." + state.octet[2] + "." + state.octet[3];
}

void OnOctetKillFocus(ConsoleState& state, ConsoleWindow& window) {
  state.address = BuildIpString(state, window);
}

void OnConnect(ConsoleState& state, ConsoleWindow& window) {
  if (!window.Fetch(state)) return;
  state.address = BuildIpString(state, window);

  const int result = OpenLink(state.link, state.address.c_str());
  if (result != kLinkTcp && result != kLinkUdp) {
    window.Message(FormatMessage(msg::kConnectFailed, result));
    ClearIdentity(state);
    window.Show(state);
    return;
  }

  IdentityBlock block{};
  if (!ReadIdentity(state.link, block).Accepted()) {
    // The link stays open; CONNECT stays available and starts over from scratch.
    window.Message(msg::kIdentityFailed);
    return;
  }
  IdentityTexts texts = DescribeIdentity(block);
  state.revision = std::move(texts.revision);
  state.serialNumber = std::move(texts.serialNumber);
  state.hardware = std::move(texts.hardware);
  state.commType = LinkTypeText(result);

  window.Show(state);
  window.Enable(ConsoleButton::kDisconnect, true);
  window.Enable(ConsoleButton::kProgram, true);
  window.Enable(ConsoleButton::kConnect, false);
}

void OnDisconnect(ConsoleState& state, ConsoleWindow& window) {
  // No fetch first: the file name shown is the one last fetched.
  CloseConsoleLink(state, window);
  ShowDisconnected(state, window);
}

void OnExit(ConsoleState& state, ConsoleWindow& window) {
  window.Fetch(state);
  if (state.link.IsOpen()) CloseLink(state.link);
}
