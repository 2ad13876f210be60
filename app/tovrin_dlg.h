#pragma once

// The main window: the controls of the dialog table, the data exchange between
// them and the console's state, and the routing of button presses to the
// console operations.

#include <QDialog>
#include <QIcon>
#include <functional>
#include <map>

#include "app/busy_window.h"
#include "app/progress_bar_sink.h"
#include "console/console.h"
#include "link/link.h"

class QLineEdit;

// Opens the file chooser for S-record files; true with the chosen path.
bool ChooseSRecordFile(QString& path);

class cTovrinDlg : public QDialog, public ConsoleWindow {
 public:
  // The link runs with the board's own waits; tests give shorter ones.
  explicit cTovrinDlg(const LinkWaits& waits = kBoardWaits, QWidget* parent = nullptr);
  ~cTovrinDlg() override;

  // Initialises the window and runs it modally. Returns at once, with Accepted,
  // when the socket library does not start.
  int DoModal();
  // Shows the initial fields, sets the icon, starts the socket library; false
  // when that fails (the operator has been told) and the window must end.
  bool OnInitDialog();

  void Fetch(ConsoleFields& fields) override;
  void Show(const ConsoleFields& fields) override;
  void Enable(ConsoleButton button, bool on) override;
  void Message(const std::string& text) override;
  bool ChooseFile(std::string& path) override;
  void FocusSerialNumber() override;

  // Commands from the window's menu; only the About entry is handled here.
  void OnSysCommand(int command);

  QWidget* Control(int id) const;
  ConsoleState& State() { return m_state; }

  // Seams for tests and the demonstration: where message texts go instead of a
  // message box, how a file is chosen (true with a path when the operator
  // confirmed), and how the socket library is started.
  std::function<void(const QString&)> messageHook;
  std::function<bool(QString&)> chooseFile = ChooseSRecordFile;
  std::function<int()> startSockets = StartSockets;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  // During an operation a close only asks the operation to end; the window
  // closes when it has.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  // Runs Connect or Program with the window kept alive and busy.
  void RunBusy(const std::function<void()>& operation);
  QLineEdit* Edit(int id) const;

  WindowKeepAlive m_keepAlive;
  ConsoleState m_state;
  QIcon m_icon;
  ProgressBarSink m_progress;
  std::map<int, QWidget*> m_controls;
};
