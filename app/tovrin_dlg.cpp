#include "app/tovrin_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QProgressBar>
#include <QValidator>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <vector>

#include "app/about_dlg.h"
#include "app/dialog_template.h"
#include "dialog/resource.h"
#include "vocabulary/vocabulary.h"
#include "link/link.h"
#include "os/socket.h"

namespace {

constexpr int kOctetIds[] = {IDC_OCTET1, IDC_OCTET2, IDC_OCTET3, IDC_OCTET4};

// The console's fields are UTF-8 text.
QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
std::string Utf8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// REV and Serial Number take only characters that are one byte in the identity;
// the console refuses others too, this keeps them from being typed at all.
class OneByteCharacters : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& /*pos*/) const override {
    for (const QChar c : input) {
      if (c.unicode() > 0xFF) return Invalid;
    }
    return Acceptable;
  }
};

}  // namespace

bool ChooseSRecordFile(QString& path) {
  // No owner, as the file chooser has always been its own window here.
  QFileDialog dialog(nullptr, "Open");
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setDefaultSuffix("S19");
  // Names on this system are case-sensitive: lower-case .s19 files belong too.
  dialog.setNameFilters({"S19 Files (*.S19 *.s19)", "All Files (*)"});
  dialog.selectFile("*.S19");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  path = dialog.selectedFiles().constFirst();
  return true;
}

cTovrinDlg::cTovrinDlg(const LinkWaits& waits, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_state(waits),
      m_icon(AppIcon()) {
  setWindowTitle(MainDialogTemplate().caption);
  setFont(DialogFont());
  CreateControls();
  m_state.progress = &m_progress;
  m_state.session.Watch(&m_keepAlive);

  connect(static_cast<QPushButton*>(Control(IDC_PROGRAM)), &QPushButton::clicked, this,
          [this] { RunBusy([this] { OnProgram(m_state, *this); }); });
  connect(static_cast<QPushButton*>(Control(IDC_EXIT)), &QPushButton::clicked, this, [this] {
    OnExit(m_state, *this);
    done(QDialog::Accepted);
  });
  connect(static_cast<QPushButton*>(Control(IDC_CONNECT)), &QPushButton::clicked, this,
          [this] { RunBusy([this] { OnConnect(m_state, *this); }); });
  connect(static_cast<QPushButton*>(Control(IDC_BROWSE)), &QPushButton::clicked, this,
          [this] { OnBrowse(m_state, *this); });
  connect(static_cast<QPushButton*>(Control(IDC_DISCONNECT)), &QPushButton::clicked, this,
          [this] { OnDisconnect(m_state, *this); });
  for (int id : kOctetIds) Control(id)->installEventFilter(this);
}

// Closing the window by its title bar or Escape leaves the link to us.
cTovrinDlg::~cTovrinDlg() { OnWindowEnd(m_state); }

void cTovrinDlg::RunBusy(const std::function<void()>& operation) {
  bool closeNow = false;
  {
    BusyWindow busy(*this);
    closeNow = RunOperation(m_state, operation);
  }
  if (closeNow) close();
}

void cTovrinDlg::closeEvent(QCloseEvent* event) {
  if (RequestClose(m_state)) {
    QDialog::closeEvent(event);
  } else {
    event->ignore();
  }
}

void cTovrinDlg::CreateControls() {
  const DialogTemplate& form = MainDialogTemplate();
  std::vector<std::pair<int, QWidget*>> tabStops;
  for (const ControlTemplate& c : form.controls) {
    QWidget* widget = CreateControl(c, *this);
    if (c.kind == ControlKind::Progress) m_progress.Bind(static_cast<QProgressBar*>(widget));
    if (c.tabIndex >= 0) tabStops.emplace_back(c.tabIndex, widget);
    if (c.id >= 0) m_controls[c.id] = widget;
  }
  std::sort(tabStops.begin(), tabStops.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 1; i < tabStops.size(); ++i) setTabOrder(tabStops[i - 1].second, tabStops[i].second);

  Edit(IDC_SERIAL)->setMaxLength(kSerialNumberMax);
  for (int id : {IDC_REV, IDC_SERIAL}) Edit(id)->setValidator(new OneByteCharacters(Edit(id)));
  LayOut(*this, form);
}

void cTovrinDlg::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) LayOut(*this, MainDialogTemplate());
  QDialog::changeEvent(event);
}

QWidget* cTovrinDlg::Control(int id) const {
  const auto found = m_controls.find(id);
  return found == m_controls.end() ? nullptr : found->second;
}

QLineEdit* cTovrinDlg::Edit(int id) const { return static_cast<QLineEdit*>(Control(id)); }

int cTovrinDlg::DoModal() {
  if (!OnInitDialog()) return QDialog::Accepted;
  return exec();
}

bool cTovrinDlg::OnInitDialog() {
  setWindowIcon(m_icon);
  if (!::OnInitDialog(m_state, *this, startSockets())) return false;
  // The first tab stop that is enabled: PROGRAM starts disabled, so the first
  // address field has the focus and its losing it builds the address.
  for (QWidget* w = Control(IDC_PROGRAM); w; w = w->nextInFocusChain()) {
    if (w->isEnabled() && w->focusPolicy() != Qt::NoFocus) {
      w->setFocus();
      break;
    }
  }
  return true;
}

void cTovrinDlg::Fetch(ConsoleFields& state) {
  state.revision = Utf8(Edit(IDC_REV)->text());
  for (int i = 0; i < 4; ++i) state.octet[i] = Utf8(Edit(kOctetIds[i])->text());
  state.serialNumber = Utf8(Edit(IDC_SERIAL)->text());
  state.fileName = Utf8(Edit(IDC_FILENAME)->text());
  state.commType = Utf8(Edit(IDC_COMMTYPE)->text());
  state.hardware = Utf8(Edit(IDC_HARDWARE)->text());
}

void cTovrinDlg::Show(const ConsoleFields& state) {
  Edit(IDC_REV)->setText(Q(state.revision));
  for (int i = 0; i < 4; ++i) Edit(kOctetIds[i])->setText(Q(state.octet[i]));
  Edit(IDC_SERIAL)->setMaxLength(kSerialNumberMax);
  Edit(IDC_SERIAL)->setText(Q(state.serialNumber));
  Edit(IDC_FILENAME)->setText(Q(state.fileName));
  Edit(IDC_COMMTYPE)->setText(Q(state.commType));
  Edit(IDC_HARDWARE)->setText(Q(state.hardware));
}

void cTovrinDlg::FocusSerialNumber() { Edit(IDC_SERIAL)->setFocus(); }

bool cTovrinDlg::ChooseFile(std::string& path) {
  QString chosen;
  if (!chooseFile(chosen)) return false;
  path = Utf8(chosen);
  return true;
}

void cTovrinDlg::Enable(ConsoleButton button, bool on) {
  if (QWidget* w = Control(ControlOf(button))) w->setEnabled(on);
}

void cTovrinDlg::Message(const std::string& text) {
  if (messageHook) {
    messageHook(Q(text));
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), Q(text), QMessageBox::Ok, this);
  if (!m_state.busy) {
    box.exec();
    return;
  }
  // A message that ends an operation waits for the operator: not a busy cursor.
  // A modal box would have the window system drop a close request to the window
  // while it is open; this one leaves the window free to take it (the operation
  // then ends in a close), and the operator's input to the window still ends in
  // BusyWindow's filter.
  QApplication::restoreOverrideCursor();
  box.setWindowModality(Qt::NonModal);
  QEventLoop answered;
  connect(&box, &QDialog::finished, &answered, &QEventLoop::quit);
  box.show();
  answered.exec();
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void cTovrinDlg::OnSysCommand(int command) {
  if ((command & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about(this);
    about.exec();
  }
}

void cTovrinDlg::contextMenuEvent(QContextMenuEvent* event) {
  // The window system gives this window no system menu; the About entry lives
  // in the window's own context menu instead.
  QMenu menu(this);
  menu.addAction(kAboutMenuText, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
  menu.exec(event->globalPos());
}

bool cTovrinDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) OnOctetKillFocus(m_state, *this);
  return QDialog::eventFilter(watched, event);
}
