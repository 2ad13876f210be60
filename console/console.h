#pragma once

// The logic behind the main window: its text fields, the link, and the
// operator's Connect, Disconnect, Program and Exit. It reaches the window only
// through ConsoleWindow, so it runs the same under any window, and under a fake
// one in tests.

#include <functional>
#include <string>
#include <utility>

#include "common/progress_sink.h"
#include "flash/program_board.h"
#include "flash/vocabulary.h"
#include "link/link.h"

// The window's text fields, as the data exchange copies them.
struct ConsoleFields {
  std::string revision;
  std::string octet[4] = {"192", "168", "167", "100"};
  std::string serialNumber;  // at most kSerialNumberMax characters; the window checks
  std::string fileName;
  std::string commType;
  std::string hardware;
};

// The dialog's members: the fields, the dotted address last built, the link
// and the progress bar. The link carries its transport for Program to use.
struct ConsoleState : ConsoleFields {
  explicit ConsoleState(const LinkWaits& waits = kBoardWaits) : link(waits) {}

  std::string address;  // the dotted address last built by BuildIpString
  BoardLink link;
  ProgressSink* progress = nullptr;  // the window's progress bar
  // Asked at each exchange boundary of a Program run: true ends the run there,
  // as when the operator closes the window during it. Unset: never.
  std::function<bool()> stopRequested;
};

// The buttons the console switches; each window maps them to its controls.
enum class ConsoleButton { kConnect, kDisconnect, kProgram };

class ConsoleWindow {
 public:
  virtual ~ConsoleWindow() = default;
  // Copies every field from the controls into state. False when a field does not
  // validate; the window has then told the operator already.
  virtual bool Fetch(ConsoleFields& fields) = 0;
  virtual void Show(const ConsoleFields& fields) = 0;
  virtual void Enable(ConsoleButton button, bool on) = 0;
  // A modal message with an OK button.
  virtual void Message(const std::string& text) = 0;
};

std::string BuildIpString(ConsoleState& state, ConsoleWindow& window);
void OnOctetKillFocus(ConsoleState& state, ConsoleWindow& window);
void OnConnect(ConsoleState& state, ConsoleWindow& window);
void OnDisconnect(ConsoleState& state, ConsoleWindow& window);
// Fetches and closes the link; the window then ends itself.
void OnExit(ConsoleState& state, ConsoleWindow& window);

// Programs the connected board with the chosen file and reports the outcome;
// then always closes the link. state.progress must be bound.
void OnProgram(ConsoleState& state, ConsoleWindow& window);

// Turns a run's events into the progress bar's range and positions: the range
// from the file's size (one step per 120 bytes, at most 65535), the position of
// each acknowledged frame, and after a success the frame count plus 300, which
// lies beyond any range and shows a full bar.
class ProgressBarAdapter : public ProgramObserver {
 public:
  explicit ProgressBarAdapter(ProgressSink& sink, std::function<bool()> stop = {})
      : sink_(sink), stop_(std::move(stop)) {}
  void FileRead(std::size_t bytes) override;
  void FrameAcknowledged(int index, std::uint32_t address) override;
  void RunEnded(int result, int framesAcknowledged) override;
  bool StopRequested() override { return stop_ && stop_(); }

 private:
  ProgressSink& sink_;
  std::function<bool()> stop_;
};
