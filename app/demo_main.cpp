// tovrin-demo: the Tovrin window driving itself against a board, for a machine
// without a display or a look at the whole road at once. It presses CONNECT,
// chooses the file through "...", presses PROGRAM, prints the text of every
// message box instead of showing it, and saves screenshots of the connected
// window and of the final state.
//   tovrin-demo FILE SCREENSHOT_DIR
// Exits 0 when the run ends in "Download Successful".

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPushButton>
#include <cstdio>

#include "dialog/resource.h"
#include "app/tovrin_dlg.h"

namespace {

// The dialog as the operator sees it, with a plain caption bar drawn above,
// since a window without a window manager has none.
QImage Screenshot(QDialog& dlg) {
  const QPixmap body = dlg.grab();
  const int caption = QFontMetrics(dlg.font()).height() + 10;
  QImage shot(body.width(), body.height() + caption, QImage::Format_RGB32);
  QPainter painter(&shot);
  painter.fillRect(0, 0, shot.width(), caption, QColor(0x1F, 0x3F, 0x7F));
  painter.drawPixmap(4, (caption - 16) / 2, dlg.windowIcon().pixmap(16, 16));
  painter.setPen(Qt::white);
  painter.setFont(dlg.font());
  painter.drawText(QRect(26, 0, shot.width() - 30, caption), Qt::AlignVCenter, dlg.windowTitle());
  painter.drawPixmap(0, caption, body);
  return shot;
}

void Press(cTovrinDlg& dlg, int id) {
  static_cast<QPushButton*>(dlg.Control(id))->click();
  QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName("tovrin");
  if (argc != 3) {
    std::fprintf(stderr, "usage: tovrin-demo FILE SCREENSHOT_DIR\n");
    return 64;
  }
  const QString file = QString::fromLocal8Bit(argv[1]);
  const QDir shots(QString::fromLocal8Bit(argv[2]));

  cTovrinDlg dlg;
  QString last;
  dlg.messageHook = [&last](const QString& text) {
    last = text.trimmed();
    std::printf("Message: %s\n", qPrintable(last));
    std::fflush(stdout);
  };
  dlg.chooseFile = [&file](QString& path) {
    path = file;
    return true;
  };
  if (!dlg.OnInitDialog()) return 1;
  dlg.show();
  QApplication::processEvents();

  Press(dlg, IDC_CONNECT);
  const ConsoleState& state = dlg.State();
  std::printf("Connected: hardware %s, revision %s, serial number %s, %s\n", state.hardware.c_str(),
              state.revision.c_str(), state.serialNumber.c_str(), state.commType.c_str());
  Press(dlg, IDC_BROWSE);
  const bool connectedShot = Screenshot(dlg).save(shots.filePath("tovrin-connected.png"));

  Press(dlg, IDC_PROGRAM);
  const bool finalShot = Screenshot(dlg).save(shots.filePath("tovrin-final.png"));
  if (!connectedShot || !finalShot) std::fprintf(stderr, "tovrin-demo: cannot write the screenshots\n");
  std::printf("Screenshots: %s\n", qPrintable(shots.absolutePath()));
  return last == "Download Successful" && connectedShot && finalShot ? 0 : 1;
}
