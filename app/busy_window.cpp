#include "app/busy_window.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QInputEvent>
#include <QWidget>

void WindowKeepAlive::Idle() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

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
