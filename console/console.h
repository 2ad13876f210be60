#pragma once

// The logic behind the main window: its text fields, the link handle, and the
// operator's Connect, Disconnect, Program and Exit. It reaches the window only
// through ConsoleWindow, so it runs the same under a fake window in tests.

#include <string>

#include "common/progress_sink.h"
#include "link/frames.h"
#include "link/link.h"

struct ConsoleState {
  std::string revision;
  std::string octet[4] = {"192", "168", "167", "100"};
  std::string serialNumber;  // at most kSerialNumberMax characters; the window checks
  std::string fileName;
  std::string commType;
  std::string hardware;
  std::string address;  // the dotted address last built by BuildIpString
  LinkHandle link = kNoLink;
  ProgressSink* progress = nullptr;  // the window's progress bar
};

constexpr int kSerialNumberMax = identity::kSerialMax;

class ConsoleWindow {
 public:
  virtual ~ConsoleWindow() = default;
  // Copies every field from the controls into state. False when a field does not
  // validate; the window has then told the operator already.
  virtual bool Fetch(ConsoleState& state) = 0;
  virtual void Show(const ConsoleState& state) = 0;
  virtual void Enable(int control, bool on) = 0;
  // A modal message with an OK button.
  virtual void Message(const std::string& text) = 0;
};

// The transport of the current connection, or the error code of a Connect that
// failed (which nothing reads). Written by every Connect, read by Program.
extern int gLinkMode;

std::string BuildIpString(ConsoleState& state, ConsoleWindow& window);
void OnOctetKillFocus(ConsoleState& state, ConsoleWindow& window);
void OnConnect(ConsoleState& state, ConsoleWindow& window);
void OnDisconnect(ConsoleState& state, ConsoleWindow& window);
// Fetches and closes the link; the window then ends itself.
void OnExit(ConsoleState& state, ConsoleWindow& window);

// Programs the connected board with the chosen file and reports the outcome;
// then always closes the link. state.progress must be bound.
void OnProgram(ConsoleState& state, ConsoleWindow& window);

// The identity record's fields as the window shows them: each up to its first
// NUL, the serial number at most identity::kSerialMax characters.
struct IdentityTexts {
  std::string revision;
  std::string serialNumber;
  std::string hardware;
};
IdentityTexts DescribeIdentity(const IdentityBlock& block);

// "TCP" or "UDP" for a LinkMode.
const char* LinkTypeText(int mode);

// The operator's text for a ProgramResult.
const char* ProgramResultMessage(int result);
