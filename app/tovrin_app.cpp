#include "app/tovrin_app.h"

#include "app/dialog_template.h"
#include "dialog/resource.h"
#include "app/tovrin_dlg.h"

cTovrinApp::cTovrinApp(int& argc, char** argv) : m_app(argc, argv) {
  QCoreApplication::setApplicationVersion(version_info::kVersion);
  for (const version_info::Entry& entry : version_info::kStrings) m_app.setProperty(entry.key, entry.value);
  // The desktop entry's name, so a Wayland compositor matches the window to it.
  QGuiApplication::setDesktopFileName("io.github.tovrin.Tovrin");
  QApplication::setWindowIcon(AppIcon());
}

bool cTovrinApp::InitInstance() {
  cTovrinDlg dlg;
  dlg.DoModal();
  return false;
}
