#include "console/console.h"

#include <cstdio>
#include <utility>

#include "console/control_ids.h"
#include "console/messages.h"
#include "console/operations.h"
#include "link/protocol.h"

int gLinkMode = kLinkTcp;

namespace {

// Text up to the first NUL within [from, from + length) of the identity block.
std::string IdentityText(const IdentityBlock& block, int from, int length) {
  std::string text;
  for (int i = from; i < from + length && block[i] != 0; ++i) text += static_cast<char>(block[i]);
  return text;
}

void ClearIdentity(ConsoleState& state) {
  state.revision.clear();
  state.serialNumber.clear();
  state.hardware.clear();
}

}  // namespace

IdentityTexts DescribeIdentity(const IdentityBlock& block) {
  return {IdentityText(block, identity::kRevisionAt, 1),
          IdentityText(block, identity::kSerialAt, identity::kSerialMax),
          IdentityText(block, identity::kHardwareAt, identity::kHardwareLength)};
}

const char* LinkTypeText(int mode) { return mode == kLinkTcp ? "TCP" : "UDP"; }

std::string FormatMessage(const char* format, int value) {
  char text[kMessageCapacity];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

void ShowDisconnected(ConsoleState& state, ConsoleWindow& window) {
  ClearIdentity(state);
  state.commType.clear();
  window.Show(state);
  window.Enable(IDC_DISCONNECT, false);
  window.Enable(IDC_PROGRAM, false);
  window.Enable(IDC_CONNECT, true);
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
  gLinkMode = result;
  if (result > kLinkUdp || result < 0) {
    window.Message(FormatMessage(msg::kConnectFailed, result));
    ClearIdentity(state);
    window.Show(state);
    return;
  }

  IdentityBlock block{};
  if (ReadIdentity(state.link, block, result) != 0) {
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
  window.Enable(IDC_DISCONNECT, true);
  window.Enable(IDC_PROGRAM, true);
  window.Enable(IDC_CONNECT, false);
}

void OnDisconnect(ConsoleState& state, ConsoleWindow& window) {
  // No fetch first: the file name shown is the one last fetched.
  CloseConsoleLink(state, window);
  ShowDisconnected(state, window);
}

void OnExit(ConsoleState& state, ConsoleWindow& window) {
  window.Fetch(state);
  if (state.link != kNoLink) CloseLink(state.link);
}
