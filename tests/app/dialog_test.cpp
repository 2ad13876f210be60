// The Qt window, offscreen: its layout from the dialog-unit table, its start
// state and tab order, the data exchange, the About entry, the file chooser,
// the progress bar binding, and one whole Connect + Program through the window
// against the simulated board.

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QValidator>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/about_dlg.h"
#include "app/dialog_template.h"
#include "dialog/resource.h"
#include "app/tovrin_dlg.h"
#include "tests/support/board_runs.h"
#include "tests/support/sim_helpers.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "tovrin";
  static char* argv[] = {name, nullptr};
  // Never destroyed: Qt's teardown at process exit would run after the test
  // framework's, in no defined order.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class DialogTest : public testing::Test {
 protected:
  void SetUp() override {
    App();
    dlg = std::make_unique<cTovrinDlg>(kFastWaits);
    dlg->messageHook = [this](const QString& text) { messages.push_back(text.toStdString()); };
  }
  QLineEdit* Edit(int id) { return static_cast<QLineEdit*>(dlg->Control(id)); }
  QPushButton* Button(int id) { return static_cast<QPushButton*>(dlg->Control(id)); }

  std::unique_ptr<cTovrinDlg> dlg;
  std::vector<std::string> messages;
};

TEST_F(DialogTest, ControlsSitWhereTheTableSaysAtAnyFontSize) {
  for (int points : {8, 16}) {
    QFont font = DialogFont();
    font.setPointSize(points);
    cTovrinDlg sized;
    sized.setFont(font);
    const DialogUnits units = UnitsOf(sized.font());
    EXPECT_EQ(sized.size(), ToPixels(MainDialogTemplate().units, units)) << points;
    for (const ControlTemplate& c : MainDialogTemplate().controls) {
      QWidget* w = sized.findChild<QWidget*>(c.name);
      ASSERT_NE(w, nullptr) << c.name;
      EXPECT_EQ(w->geometry(), ToPixels(c.units, units)) << c.name << " at " << points << " pt";
    }
  }
}

TEST_F(DialogTest, DialogUnitsFollowTheFont) {
  QFont small = DialogFont();
  QFont large = DialogFont();
  large.setPointSize(small.pointSize() * 2);
  const DialogUnits a = UnitsOf(small);
  const DialogUnits b = UnitsOf(large);
  EXPECT_GT(a.x, 0);
  EXPECT_NEAR(b.x / a.x, 2.0, 0.35);
  EXPECT_NEAR(b.y / a.y, 2.0, 0.35);
  EXPECT_EQ(ToPixels(DluRect{4, 8, 40, 16}, DialogUnits{1.5, 2.0}), QRect(6, 16, 60, 32));
}

TEST_F(DialogTest, StartsWithOnlyConnectBrowseAndExitAvailable) {
  ASSERT_TRUE(dlg->OnInitDialog());
  EXPECT_TRUE(Button(IDC_CONNECT)->isEnabled());
  EXPECT_TRUE(Button(IDC_BROWSE)->isEnabled());
  EXPECT_TRUE(Button(IDC_EXIT)->isEnabled());
  EXPECT_FALSE(Button(IDC_DISCONNECT)->isEnabled());
  EXPECT_FALSE(Button(IDC_PROGRAM)->isEnabled());
  EXPECT_TRUE(Button(IDC_PROGRAM)->isDefault());
  EXPECT_FALSE(dlg->State().session.Link().IsOpen());

  const int octets[] = {IDC_OCTET1, IDC_OCTET2, IDC_OCTET3, IDC_OCTET4};
  const char* shown[] = {"192", "168", "167", "100"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Edit(octets[i])->text(), shown[i]);
    EXPECT_TRUE(Edit(octets[i])->isReadOnly());
    int at = 0;
    QString letter = "1a";
    EXPECT_EQ(Edit(octets[i])->validator()->validate(letter, at), QValidator::Invalid) << "digits only";
  }
  for (int id : {IDC_HARDWARE, IDC_COMMTYPE}) EXPECT_TRUE(Edit(id)->isReadOnly());
  for (int id : {IDC_REV, IDC_SERIAL, IDC_FILENAME}) EXPECT_FALSE(Edit(id)->isReadOnly());
  EXPECT_EQ(dlg->windowTitle().contains("Version 3.0"), true);
}

TEST_F(DialogTest, TabOrderAndFirstFocus) {
  const char* order[] = {"IDC_PROGRAM", "IDC_OCTET1", "IDC_OCTET2", "IDC_OCTET3", "IDC_OCTET4",
                         "IDC_REV", "IDC_SERIAL", "IDC_FILENAME", "IDC_BROWSE", "IDC_EXIT",
                         "IDC_CONNECT", "IDC_DISCONNECT", "IDC_COMMTYPE", "IDC_HARDWARE"};
  QWidget* w = dlg->Control(IDC_PROGRAM);
  for (const char* name : order) {
    while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
    EXPECT_EQ(w->objectName(), name);
    w = w->nextInFocusChain();
  }
  for (const char* label : {"ipLabel", "serialLabel", "IDC_PROGRESS"}) {
    EXPECT_EQ(dlg->findChild<QWidget*>(label)->focusPolicy(), Qt::NoFocus) << label;
  }
  ASSERT_TRUE(dlg->OnInitDialog());
  dlg->show();
  dlg->activateWindow();
  QApplication::processEvents();
  EXPECT_EQ(dlg->focusWidget(), dlg->Control(IDC_OCTET1));

  // Leaving the first address field builds the address.
  dlg->State().address.clear();
  Edit(IDC_REV)->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(dlg->State().address, "192.168.167.100");
}

TEST_F(DialogTest, DataExchangeBothWays) {
  ASSERT_TRUE(dlg->OnInitDialog());
  Edit(IDC_REV)->setText("Q");
  Edit(IDC_SERIAL)->setText("SN-0042");
  Edit(IDC_FILENAME)->setText("/data/fw.s19");
  ConsoleState state;
  dlg->Fetch(state);
  EXPECT_EQ(state.revision, "Q");
  EXPECT_EQ(state.serialNumber, "SN-0042");
  EXPECT_EQ(state.fileName, "/data/fw.s19");
  EXPECT_EQ(state.octet[3], "100");

  state.hardware = "VR16";
  state.commType = "TCP";
  state.serialNumber = "ABCDEFGHIJKLMNOPQRS";
  dlg->Show(state);
  EXPECT_EQ(Edit(IDC_HARDWARE)->text(), "VR16");
  EXPECT_EQ(Edit(IDC_COMMTYPE)->text(), "TCP");
  EXPECT_EQ(Edit(IDC_SERIAL)->maxLength(), 15);
  EXPECT_EQ(Edit(IDC_SERIAL)->text(), "ABCDEFGHIJKLMNO") << "the field takes at most 15 characters";
}

// The fields carry the console's text unchanged both ways, accented letters and
// ÿ included (the console turns the identity's bytes into them), and only
// characters that fit in one byte can be typed.
TEST_F(DialogTest, IdentityFieldsCarryTheConsolesText) {
  ASSERT_TRUE(dlg->OnInitDialog());
  ConsoleState shown;
  shown.revision = "\xC3\x84";                         // Ä
  shown.serialNumber = "Caf\xC3\xA9-\xC3\xBF\xC3\xBF";  // Café-ÿÿ
  dlg->Show(shown);
  EXPECT_EQ(Edit(IDC_SERIAL)->text(), QString::fromLatin1("Caf\xE9-\xFF\xFF"));
  ConsoleState fetched;
  dlg->Fetch(fetched);
  EXPECT_EQ(fetched.revision, shown.revision);
  EXPECT_EQ(fetched.serialNumber, shown.serialNumber);
  for (int id : {IDC_REV, IDC_SERIAL}) {
    const QValidator* validator = Edit(id)->validator();
    ASSERT_NE(validator, nullptr);
    int pos = 0;
    QString oneByte = QString::fromLatin1("Stra\xDF""e \xFF");
    QString wider = QString::fromUtf8("\xE2\x82\xAC");  // the euro sign
    EXPECT_EQ(validator->validate(oneByte, pos), QValidator::Acceptable);
    EXPECT_EQ(validator->validate(wider, pos), QValidator::Invalid);
  }
}

TEST_F(DialogTest, AboutEntryOpensTheAboutBox) {
  QString caption;
  QTimer::singleShot(0, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      caption = modal->windowTitle();
      modal->close();
    }
  });
  dlg->OnSysCommand(IDM_ABOUTBOX | 0x3);  // the low four bits are not part of the command
  EXPECT_EQ(caption, "About Tovrin");

  bool opened = false;
  QTimer::singleShot(0, [&] { opened = QApplication::activeModalWidget() != nullptr; });
  dlg->OnSysCommand(0xF060);  // another window command: not ours
  QApplication::processEvents();
  EXPECT_FALSE(opened);

  CAboutDlg about;
  EXPECT_EQ(about.size(), ToPixels(AboutDialogTemplate().units, UnitsOf(about.font())));
  EXPECT_NE(about.findChild<QWidget*>("versionLabel"), nullptr);
  EXPECT_TRUE(about.findChild<QPushButton*>("IDOK")->isDefault());
}

TEST_F(DialogTest, ContextMenuOffersTheAboutEntry) {
  QString entry;
  QTimer::singleShot(0, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      entry = menu->actions().value(0)->text();
      menu->close();
    }
  });
  dlg->show();
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dlg->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(dlg.get(), &event);
  EXPECT_EQ(entry, "&About Tovrin...");
}

TEST_F(DialogTest, FileChooserCancelKeepsTheFileName) {
  Edit(IDC_FILENAME)->setText("/keep/me.s19");
  Edit(IDC_REV)->setText("R");
  dlg->chooseFile = [](QString&) { return false; };
  Button(IDC_BROWSE)->click();
  EXPECT_EQ(Edit(IDC_FILENAME)->text(), "/keep/me.s19");
  EXPECT_EQ(Edit(IDC_REV)->text(), "R") << "the fields are shown again after the chooser";

  dlg->chooseFile = [](QString& path) {
    path = "/chosen/board.S19";
    return true;
  };
  Button(IDC_BROWSE)->click();
  EXPECT_EQ(Edit(IDC_FILENAME)->text(), "/chosen/board.S19");
}

TEST_F(DialogTest, ProgressBarShowsPositionsBeyondTheRangeAsFull) {
  auto* bar = static_cast<QProgressBar*>(dlg->Control(IDC_PROGRESS));
  ProgressSink& sink = *dlg->State().progress;
  sink.SetRange(100);
  sink.SetPosition(42);
  EXPECT_EQ(bar->value(), 42);
  sink.SetPosition(405);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(bar->maximum(), 100);

  sink.SetRange(0);  // a file under 120 bytes
  EXPECT_NE(bar->minimum(), bar->maximum()) << "0..0 would show a busy bar";
  sink.SetPosition(0);
  EXPECT_EQ(bar->value(), bar->minimum());
  sink.SetPosition(301);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(DialogTest, SocketLibraryThatWillNotStartEndsTheProgram) {
  dlg->startSockets = [] { return 10091; };
  EXPECT_EQ(dlg->DoModal(), QDialog::Accepted);
  EXPECT_EQ(messages, std::vector<std::string>{"WinSocket not started error = 10091.\n"});
}

TEST_F(DialogTest, ConnectAndProgramThroughTheWindow) {
  SimOptions options = UdpBoard();
  options.bindAddress = "192.168.167.100";
  options.serial = "00077";
  SimBoard sim;
  START_SIM(sim, options);
  TempFiles files{"window"};
  const std::string file = files.Write("window.s19", S3(0x3000, {0xCA, 0xFE}) + "\n");

  ASSERT_TRUE(dlg->OnInitDialog());
  Button(IDC_CONNECT)->click();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Edit(IDC_HARDWARE)->text(), "VR32");
  EXPECT_EQ(Edit(IDC_REV)->text(), "B");
  EXPECT_EQ(Edit(IDC_SERIAL)->text(), "00077");
  EXPECT_EQ(Edit(IDC_COMMTYPE)->text(), "UDP");
  EXPECT_FALSE(Button(IDC_CONNECT)->isEnabled());
  EXPECT_TRUE(Button(IDC_PROGRAM)->isEnabled());

  Edit(IDC_FILENAME)->setText(QString::fromStdString(file));
  Edit(IDC_SERIAL)->setText("00078");
  Button(IDC_PROGRAM)->click();
  EXPECT_EQ(messages, std::vector<std::string>{"Download Successful"});
  EXPECT_EQ(Edit(IDC_SERIAL)->text(), "");
  EXPECT_EQ(Edit(IDC_FILENAME)->text(), QString::fromStdString(file));
  EXPECT_TRUE(Button(IDC_CONNECT)->isEnabled());
  EXPECT_FALSE(dlg->State().session.Link().IsOpen());
  auto* bar = static_cast<QProgressBar*>(dlg->Control(IDC_PROGRESS));
  EXPECT_EQ(bar->value(), bar->maximum());

  const auto flash = sim.Flash();
  EXPECT_EQ(flash[0x3000], 0xCA);
  EXPECT_EQ(std::string(flash.begin() + 0x420, flash.begin() + 0x427), std::string("B00078\0", 7));
}

// Program against a slow board: the window's events run throughout (a timer
// fires), the cursor is busy, and the operator's clicks and keys are dropped.
class BusyDialogTest : public DialogTest {
 protected:
  // Connects to a board that answers each request after 20 ms, then runs
  // Program on 48 frames with a timer calling `tick` every 10 ms.
  void ProgramSlowly(SimBoard& sim, const std::function<void()>& tick) {
    SimOptions options = UdpBoard();
    options.bindAddress = "192.168.167.100";
    options.faults.replyDelayMs = 20;
    ASSERT_TRUE(sim.Start(options)) << sim.Error();
    std::string text;
    for (std::uint32_t a = 0x2000; a < 0x2C00; a += 32) text += S3(a, Bytes(32, 0x11)) + "\n";
    dlg->show();
    ASSERT_TRUE(dlg->OnInitDialog());
    Button(IDC_CONNECT)->click();
    ASSERT_TRUE(dlg->State().session.Link().IsOpen());
    Edit(IDC_FILENAME)->setText(QString::fromStdString(files.Write("slow.s19", text)));
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, tick);
    timer.start(10);
    Button(IDC_PROGRAM)->click();
  }
  TempFiles files{"busy"};
};

TEST_F(BusyDialogTest, WindowStaysAliveAndBusyAndTakesNoInputDuringProgram) {
  int ticks = 0;
  int busyTicks = 0;
  SimBoard sim;
  ProgramSlowly(sim, [&] {
    ++ticks;
    const QCursor* cursor = QApplication::overrideCursor();
    if (cursor != nullptr && cursor->shape() == Qt::WaitCursor) ++busyTicks;
    // Pressing DISCONNECT or Escape now would end the run with a failure.
    QPushButton* disconnect = Button(IDC_DISCONNECT);
    const QPointF at(disconnect->rect().center());
    QMouseEvent press(QEvent::MouseButtonPress, at, disconnect->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, disconnect->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(disconnect, &press);
    QApplication::sendEvent(disconnect, &release);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &escape);
  });
  EXPECT_EQ(messages, std::vector<std::string>{"Download Successful"});
  EXPECT_GT(ticks, 10) << "the window's events ran during the run";
  EXPECT_EQ(busyTicks, ticks);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_TRUE(sim.Locked());
}

// Closing the window mid-run ends the run at the next exchange, unlocked, and
// then closes the link and the window.
TEST_F(BusyDialogTest, ClosingDuringProgramStopsTheRunAndClosesTheWindow) {
  auto* bar = static_cast<QProgressBar*>(dlg->Control(IDC_PROGRESS));
  SimBoard sim;
  ProgramSlowly(sim, [&] {
    if (bar->value() >= 5) dlg->close();
  });
  EXPECT_EQ(messages, std::vector<std::string>{"Programming interrupted"});
  EXPECT_FALSE(sim.Locked());
  for (const SimEvent& e : sim.Events()) EXPECT_NE(e.command, 'l');
  EXPECT_LT(sim.ProgramFramesWritten(), 48);
  EXPECT_FALSE(dlg->State().session.Link().IsOpen());
  EXPECT_FALSE(dlg->isVisible());
}

TEST_F(DialogTest, ExitClosesTheLink) {
  SimOptions options = TcpBoard();
  options.bindAddress = "192.168.167.100";
  SimBoard sim;
  START_SIM(sim, options);
  ASSERT_TRUE(dlg->OnInitDialog());
  Button(IDC_CONNECT)->click();
  ASSERT_TRUE(dlg->State().session.Link().IsOpen());
  Button(IDC_EXIT)->click();
  EXPECT_FALSE(dlg->State().session.Link().IsOpen());
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

}  // namespace
