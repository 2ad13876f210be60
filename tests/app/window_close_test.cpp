// The Qt window closed as a desktop closes it: the window manager's request
// (a WM_DELETE_WINDOW client message), sent through the X server to the window
// on a virtual display, not a call to close(). It must end a Program at its next
// exchange, unlocked, and then close the window; a failing Connect runs to its
// error box and the window then closes; a close that comes while the run's last
// message box is open closes the window once it has been read. The test's
// command starts the display (xvfb-run); the window and its message boxes are
// the real ones, answered as an operator would.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/tovrin_dlg.h"
#include "dialog/resource.h"
#include "tests/app/x11_close_request.h"
#include "tests/support/board_runs.h"
#include "tests/support/sim_helpers.h"
#include "vocabulary/vocabulary.h"

namespace {

constexpr int kPollMs = 20;
constexpr int kTestLimitMs = 30000;   // the window must have closed by then
constexpr int kProgramFrames = 100;   // at 20 ms a reply: two seconds of frames
constexpr int kReplyDelayMs = 20;
constexpr int kCloseAfterFrames = 5;

QApplication& App() {
  static int argc = 1;
  static char name[] = "tovrin";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);  // never destroyed, as in dialog_test
  return *app;
}

QMessageBox* OpenMessageBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) return box;
  }
  return nullptr;
}

enum class CloseWhen { kDuringProgram, kDuringConnect, kDuringFinalMessage };

struct Case {
  const char* name;
  CloseWhen when;
  bool board;                  // false: nothing answers, the Connect fails
  std::string message;         // the one message box the operator reads
};

// The window, with timers as the operator's hands: CONNECT, then the file and
// PROGRAM; every message box read and answered with OK; and the close request
// sent when the case says. Returns the texts of the message boxes read.
class Operator {
 public:
  Operator(cTovrinDlg& dlg, const Case& c, const SimBoard& sim, const std::string& file)
      : dlg_(dlg), case_(c), sim_(sim), file_(file) {}

  std::vector<std::string> Run() {
    QTimer hands;
    QObject::connect(&hands, &QTimer::timeout, &hands, [this] { Step(); });
    hands.start(kPollMs);
    started_ = std::chrono::steady_clock::now();
    Press(IDC_CONNECT);
    returned_ = dlg_.DoModal();
    return messages_;
  }
  bool CloseSent() const { return closeSent_; }
  bool GaveUp() const { return gaveUp_; }

 private:
  void Step() {
    const auto elapsed = std::chrono::steady_clock::now() - started_;
    if (!gaveUp_ && elapsed > std::chrono::milliseconds(kTestLimitMs)) {
      gaveUp_ = true;  // the window stayed open: end it, so the test reports instead of hanging
      if (QMessageBox* box = OpenMessageBox()) box->done(QMessageBox::Ok);
      dlg_.done(QDialog::Rejected);
      return;
    }
    if (QMessageBox* box = OpenMessageBox()) {
      if (case_.when == CloseWhen::kDuringFinalMessage && !closeSent_) {
        Close();
        return;  // the answer comes at the next step, after the request has arrived
      }
      messages_.push_back(box->text().toStdString());
      box->button(QMessageBox::Ok)->click();
      return;
    }
    ConsoleState& state = dlg_.State();
    if (!state.busy && state.session.Link().IsOpen() && !programClicked_) {
      programClicked_ = true;
      static_cast<QLineEdit*>(dlg_.Control(IDC_FILENAME))->setText(QString::fromStdString(file_));
      Press(IDC_PROGRAM);
      return;
    }
    if (closeSent_ || !state.busy) return;
    if ((case_.when == CloseWhen::kDuringProgram && sim_.ProgramFramesWritten() >= kCloseAfterFrames) ||
        (case_.when == CloseWhen::kDuringConnect && elapsed > std::chrono::milliseconds(300))) {
      Close();
    }
  }
  // From a timer of its own: a timer does not fire again while its own call
  // runs, and the operation runs inside the press.
  void Press(int id) {
    QTimer::singleShot(0, [this, id] { static_cast<QPushButton*>(dlg_.Control(id))->click(); });
  }
  void Close() {
    closeSent_ = true;
    EXPECT_TRUE(SendDeleteRequest(static_cast<unsigned long>(dlg_.winId())));
  }

  cTovrinDlg& dlg_;
  const Case& case_;
  const SimBoard& sim_;
  std::string file_;
  std::chrono::steady_clock::time_point started_;
  std::vector<std::string> messages_;
  bool programClicked_ = false;
  bool closeSent_ = false;
  bool gaveUp_ = false;
  int returned_ = 0;
};

TEST(WindowCloseTest, TheDesktopsCloseRequestEndsTheRunAndTheWindow) {
  App();
  ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "this test needs an X display";
  TempFiles files{"close"};
  std::string text;
  for (std::uint32_t a = 0x2000; a < 0x2000 + kProgramFrames * 64; a += 32) text += S3(a, Bytes(32, 0x11)) + "\n";
  const std::string file = files.Write("slow.s19", text);

  // A failing Connect lasts about two seconds: three probes, then TCP refused.
  LinkWaits slowProbe = kFastWaits;
  slowProbe.probeMs = 700;
  const Case cases[] = {
      {"during Program", CloseWhen::kDuringProgram, true, ProgramResultMessage(kProgramInterrupted)},
      {"during a failing Connect", CloseWhen::kDuringConnect, false, ""},
      {"while the last message is open", CloseWhen::kDuringFinalMessage, true, ProgramResultMessage(kProgramDone)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimBoard sim;
    if (c.board) {
      SimOptions options = UdpBoard();
      options.bindAddress = "192.168.167.100";
      options.faults.replyDelayMs = kReplyDelayMs;
      START_SIM(sim, options);
    }
    cTovrinDlg dlg(slowProbe);
    Operator hands(dlg, c, sim, file);
    const std::vector<std::string> messages = hands.Run();

    EXPECT_TRUE(hands.CloseSent());
    EXPECT_FALSE(hands.GaveUp()) << "the window stayed open after the close request";
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(dlg.State().session.Link().IsOpen());
    ASSERT_EQ(messages.size(), 1u);
    if (c.board) {
      EXPECT_EQ(messages[0], c.message);
      const bool completed = c.when == CloseWhen::kDuringFinalMessage;
      EXPECT_EQ(sim.Locked(), completed);
      EXPECT_EQ(AnyCommand(sim, 'l'), completed);
      if (!completed) {
        EXPECT_LT(sim.ProgramFramesWritten(), kProgramFrames);
      }
    } else {
      EXPECT_EQ(messages[0].rfind("Failed to connection to the Varnel board. Error = ", 0), 0u) << messages[0];
    }
  }
}

}  // namespace
