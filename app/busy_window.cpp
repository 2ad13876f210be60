#include "app/busy_window.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QInputEvent>
#include <QWidget>

#include "console/console.h"

// Every event, input included: the window system counts a close request from
// the desktop as input, and input held back would reach the window only after
// the run, when the message box that ends it blocks the window and the close is
// dropped. The operator's input to the window ends in BusyWindow's filter.
void WindowKeepAlive::Idle() { QCoreApplication::processEvents(); }

void WindowKeepAlive::Diagnostic(const std::string& line) { WriteDiagnostic(line); }

BusyWindow::BusyWindow(QWidget& window) : window_(window) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QCoreApplication::instance()->installEventFilter(this);
}

BusyWindow::~BusyWindow() {
  // The input held back by the waits reaches the filter now, and ends there.
  QCoreApplication::processEvents();
  QCoreApplication::instance()->removeEventFilter(this);
  QApplication::restoreOverrideCursor();
}

bool BusyWindow::eventFilter(QObject* watched, QEvent* event) {
  if (dynamic_cast<QInputEvent*>(event) == nullptr || !watched->isWidgetType()) return false;
  return static_cast<QWidget*>(watched)->window() == &window_;
}
