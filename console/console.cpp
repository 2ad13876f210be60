#include "console/console.h"

#include <cstdio>
#include <optional>
#include <utility>

#include "common/text.h"
#include "console/operations.h"

namespace {

void ClearIdentity(ConsoleState& state) {
  state.revision.clear();
  state.serialNumber.clear();
  state.hardware.clear();
}

// A refused identity field: the operator is told, the field gets the focus.
bool Refuse(ConsoleWindow& window, const char* message) {
  window.Message(message);
  window.FocusSerialNumber();
  return false;
}

}  // namespace

RunRequest StampOf(const ConsoleFields& fields) {
  // FetchFields let only one-byte characters through.
  RunRequest request;
  request.revision = Utf8ToLatin1(fields.revision).value_or("");
  request.serial = Utf8ToLatin1(fields.serialNumber).value_or("");
  return request;
}

void ShowDisconnected(ConsoleState& state, ConsoleWindow& window) {
  ClearIdentity(state);
  state.commType.clear();
  window.Show(state);
  window.Enable(ConsoleButton::kDisconnect, false);
  window.Enable(ConsoleButton::kProgram, false);
  window.Enable(ConsoleButton::kConnect, true);
}

void CloseConsoleLink(ConsoleState& state, ConsoleWindow& window) {
  const int closed = state.session.Close();
  if (closed != 0) window.Message(ConnectFailedMessage(closed));
}

bool FetchFields(ConsoleState& state, ConsoleWindow& window) {
  window.Fetch(state);
  const std::optional<std::string> revision = Utf8ToLatin1(state.revision);
  const std::optional<std::string> serial = Utf8ToLatin1(state.serialNumber);
  if (!revision || !serial) return Refuse(window, msg::kOneByteCharacters);
  if (serial->size() > static_cast<std::size_t>(kSerialNumberMax)) return Refuse(window, msg::kSerialTooLong);
  return true;
}

bool OnInitDialog(ConsoleState& state, ConsoleWindow& window, int startResult) {
  window.Show(state);
  if (startResult == 0) return true;
  window.Message(SocketsNotStartedMessage(startResult));
  return false;
}

std::string BuildIpString(ConsoleState& state, ConsoleWindow& window) {
  if (!FetchFields(state, window)) return "";
  return state.octet[0] + "." + state.octet[1] + "." + state.octet[2] + "." + state.octet[3];
}

void OnOctetKillFocus(ConsoleState& state, ConsoleWindow& window) {
  state.address = BuildIpString(state, window);
}

void OnConnect(ConsoleState& state, ConsoleWindow& window) {
  if (!FetchFields(state, window)) return;
  state.address = BuildIpString(state, window);

  state.session.Open(state.address);
  const OpenOutcome& opened = state.session.Opened();
  if (!opened.Opened()) {
    window.Message(ConnectFailedMessage(opened.error));
    ClearIdentity(state);
    window.Show(state);
    return;
  }
  if (!state.session.IdentityRead()) {
    // The link stays open; CONNECT stays available and starts over from scratch.
    window.Message(msg::kIdentityFailed);
    return;
  }
  const IdentityTexts texts = state.session.Texts();
  state.revision = Latin1ToUtf8(texts.revision);
  state.serialNumber = Latin1ToUtf8(texts.serialNumber);
  state.hardware = Latin1ToUtf8(texts.hardware);
  state.commType = LinkTypeText(state.session.Transport());

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

void OnBrowse(ConsoleState& state, ConsoleWindow& window) {
  FetchFields(state, window);  // a refused field does not stop the choice of a file
  std::string path;
  if (window.ChooseFile(path)) state.fileName = std::move(path);
  window.Show(state);
}

void OnExit(ConsoleState& state, ConsoleWindow& window) {
  FetchFields(state, window);
  OnWindowEnd(state);
}

bool RequestClose(ConsoleState& state) {
  if (!state.busy) return true;
  state.closeRequested = true;  // the run asks for it at its next exchange
  return false;
}

void OnWindowEnd(ConsoleState& state) {
  if (state.session.Link().IsOpen()) state.session.Close();
}

void WriteDiagnostic(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}
