#pragma once

// The logic behind the main window: its text fields, the board session, and
// the operator's Connect, Disconnect, Program, Browse and Exit, with what every
// window shares around them: how the identity's bytes become text and back,
// which edits are refused, what a close does while an operation runs, and the
// socket library's start. It reaches the window only through ConsoleWindow, so
// it runs the same under any window, and under a fake one in tests. The windows
// only map controls and draw.

#include <string>
#include <utility>

#include "common/progress_sink.h"
#include "flash/program_image.h"
#include "link/link.h"
#include "run/session.h"
#include "vocabulary/vocabulary.h"

// The window's text fields, as the data exchange copies them: UTF-8 text, as a
// window shows and takes it. The identity fields show one character per byte of
// the record (Latin-1); the console converts both ways.
struct ConsoleFields {
  std::string revision;
  std::string octet[4] = {"192", "168", "167", "100"};
  std::string serialNumber;  // at most kSerialNumberMax characters of one byte
  std::string fileName;
  std::string commType;
  std::string hardware;
};

// The dialog's members: the fields, the dotted address last built, the session
// with the board, the progress bar and where an operation stands.
struct ConsoleState : ConsoleFields {
  explicit ConsoleState(const LinkWaits& waits = kBoardWaits) : session(waits) {}

  std::string address;  // the dotted address last built by BuildIpString
  Session session;
  ProgressSink* progress = nullptr;  // the window's progress bar
  bool busy = false;            // Connect or Program is running
  bool closeRequested = false;  // the operator closed the window meanwhile
};

// The buttons the console switches; each window maps them to its controls.
enum class ConsoleButton { kConnect, kDisconnect, kProgram };

class ConsoleWindow {
 public:
  virtual ~ConsoleWindow() = default;
  // Copies every field's text from the controls; the console checks it.
  virtual void Fetch(ConsoleFields& fields) = 0;
  virtual void Show(const ConsoleFields& fields) = 0;
  virtual void Enable(ConsoleButton button, bool on) = 0;
  // A modal message with an OK button.
  virtual void Message(const std::string& text) = 0;
  // The file chooser for S-record files: true with the chosen path (UTF-8).
  virtual bool ChooseFile(std::string& path) = 0;
  // Puts the keyboard focus on the serial number, after it was refused.
  virtual void FocusSerialNumber() {}
};

// The window's fetch with the console's checks: REV and Serial Number must be
// characters of one byte, and the serial number at most kSerialNumberMax of
// them. False, with the operator told, when a field is refused.
bool FetchFields(ConsoleState& state, ConsoleWindow& window);

// Starts the socket library as the window opens (startResult: its result).
// False, with the operator told, when it did not start: the window then ends.
bool OnInitDialog(ConsoleState& state, ConsoleWindow& window, int startResult);

std::string BuildIpString(ConsoleState& state, ConsoleWindow& window);
void OnOctetKillFocus(ConsoleState& state, ConsoleWindow& window);
void OnConnect(ConsoleState& state, ConsoleWindow& window);
void OnDisconnect(ConsoleState& state, ConsoleWindow& window);
void OnBrowse(ConsoleState& state, ConsoleWindow& window);
// Fetches and closes the link; the window then ends itself.
void OnExit(ConsoleState& state, ConsoleWindow& window);

// Programs the connected board with the chosen file and reports the outcome;
// then always closes the link. state.progress must be bound.
void OnProgram(ConsoleState& state, ConsoleWindow& window);

// Runs Connect or Program as a window does: marked busy while it runs. True
// when the window must close now, because the operator asked for that during
// the operation (the link is closed by then).
template <typename Operation>
bool RunOperation(ConsoleState& state, Operation&& operation) {
  state.busy = true;
  std::forward<Operation>(operation)();
  state.busy = false;
  if (!state.closeRequested) return false;
  state.closeRequested = false;
  if (state.session.Link().IsOpen()) state.session.Close();  // a Connect that ended after the close
  return true;
}

// The operator asks the window to close (its close box, Escape, the desktop).
// True: close it now. False: an operation runs; a Program ends at its next
// exchange boundary, unlocked, and RunOperation then says to close.
bool RequestClose(ConsoleState& state);

// The window is gone: the link, if one is still open, is closed.
void OnWindowEnd(ConsoleState& state);

// Where a window's diagnostic lines go (its link observer's Diagnostic):
// standard output, one write per line, flushed, since a line left in a buffer
// is no use to someone watching a stuck run.
void WriteDiagnostic(const std::string& line);

// Turns a run's events into the progress bar's range and positions: the range
// from the file's size (one step per 120 bytes, at most 65535), the position of
// each acknowledged frame, and after a success the frame count plus 300, which
// lies beyond any range and shows a full bar. A close requested meanwhile stops
// the run at its next exchange.
class ProgressBarAdapter : public ProgramObserver {
 public:
  explicit ProgressBarAdapter(ProgressSink& sink, const bool* stop = nullptr) : sink_(sink), stop_(stop) {}
  void FileRead(std::size_t bytes) override;
  void FrameAcknowledged(int index, std::uint32_t address) override;
  void RunEnded(int result, int framesAcknowledged) override;
  bool StopRequested() override { return stop_ != nullptr && *stop_; }

 private:
  ProgressSink& sink_;
  const bool* stop_;
};
