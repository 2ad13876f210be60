#include "app/tovrin_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEvent>
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
#include "flash/vocabulary.h"
#include "link/link.h"

namespace {

constexpr int kOctetIds[] = {IDC_OCTET1, IDC_OCTET2, IDC_OCTET3, IDC_OCTET4};

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The identity's bytes as characters and back, one byte to one character, so a
// blank board's 0xFF bytes, or any other, come back exactly as they were read.
QString IdentityText(const std::string& bytes) { return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())); }
std::string IdentityBytes(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// REV and Serial Number take only characters that are one byte in the identity.
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
  m_state.link.observer = &m_keepAlive;
  // A window closed during Program ends the run at its next exchange, unlocked.
  m_state.stopRequested = [this] { return m_closeWhenDone; };

  connect(static_cast<QPushButton*>(Control(IDC_PROGRAM)), &QPushButton::clicked, this,
          [this] { RunBusy([this] { OnProgram(m_state, *this); }); });
  connect(static_cast<QPushButton*>(Control(IDC_EXIT)), &QPushButton::clicked, this, [this] {
    OnExit(m_state, *this);
    done(QDialog::Accepted);
  });
  connect(static_cast<QPushButton*>(Control(IDC_CONNECT)), &QPushButton::clicked, this,
          [this] { RunBusy([this] { OnConnect(m_state, *this); }); });
  connect(static_cast<QPushButton*>(Control(IDC_BROWSE)), &QPushButton::clicked, this, [this] { OnBrowse(); });
  connect(static_cast<QPushButton*>(Control(IDC_DISCONNECT)), &QPushButton::clicked, this,
          [this] { OnDisconnect(m_state, *this); });
  for (int id : kOctetIds) Control(id)->installEventFilter(this);
}

cTovrinDlg::~cTovrinDlg() {
  // Closing the window by its title bar or Escape leaves the link to us.
  if (m_state.link.IsOpen()) CloseLink(m_state.link);
}

void cTovrinDlg::RunBusy(const std::function<void()>& operation) {
  {
    BusyWindow busy(*this);
    m_busy = true;
    operation();
    m_busy = false;
  }
  if (!m_closeWhenDone) return;
  m_closeWhenDone = false;
  if (m_state.link.IsOpen()) CloseLink(m_state.link);  // a Connect that ended after the close
  close();
}

void cTovrinDlg::closeEvent(QCloseEvent* event) {
  if (!m_busy) {
    QDialog::closeEvent(event);
    return;
  }
  m_closeWhenDone = true;  // the run asks for it at its next exchange
  event->ignore();
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
  Show(m_state);
  setWindowIcon(m_icon);
  const int started = startSockets();
  if (started != 0) {
    Message(FormatMessage(msg::kSocketsNotStarted, started));
    return false;
  }
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

bool cTovrinDlg::Fetch(ConsoleFields& state) {
  state.revision = IdentityBytes(Edit(IDC_REV)->text());
  for (int i = 0; i < 4; ++i) state.octet[i] = Edit(kOctetIds[i])->text().toStdString();
  const QString serial = Edit(IDC_SERIAL)->text();
  if (serial.size() > kSerialNumberMax) {
    Message(kSerialTooLongText);
    Edit(IDC_SERIAL)->setFocus();
    return false;
  }
  state.serialNumber = IdentityBytes(serial);
  state.fileName = Edit(IDC_FILENAME)->text().toStdString();
  state.commType = Edit(IDC_COMMTYPE)->text().toStdString();
  state.hardware = IdentityBytes(Edit(IDC_HARDWARE)->text());
  return true;
}

void cTovrinDlg::Show(const ConsoleFields& state) {
  Edit(IDC_REV)->setText(IdentityText(state.revision));
  for (int i = 0; i < 4; ++i) Edit(kOctetIds[i])->setText(Q(state.octet[i]));
  Edit(IDC_SERIAL)->setMaxLength(kSerialNumberMax);
  Edit(IDC_SERIAL)->setText(IdentityText(state.serialNumber));
  Edit(IDC_FILENAME)->setText(Q(state.fileName));
  Edit(IDC_COMMTYPE)->setText(Q(state.commType));
  Edit(IDC_HARDWARE)->setText(IdentityText(state.hardware));
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
  // A message that ends an operation waits for the operator: not a busy cursor.
  if (m_busy) QApplication::restoreOverrideCursor();
  box.exec();
  if (m_busy) QApplication::setOverrideCursor(Qt::WaitCursor);
}

void cTovrinDlg::OnBrowse() {
  Fetch(m_state);  // a refused field does not stop the choice of a file
  QString path;
  if (chooseFile(path)) m_state.fileName = path.toStdString();
  Show(m_state);
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
