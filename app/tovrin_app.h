#pragma once

#include <QApplication>

// The application: one modal main window, and the end of the program when it
// closes. Its name, and so the caption of every message box, is the program's
// file name.
class cTovrinApp {
 public:
  cTovrinApp(int& argc, char** argv);
  // Runs the main window; false when it has closed and the program should end.
  bool InitInstance();

 private:
  QApplication m_app;
};
