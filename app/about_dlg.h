#pragma once

#include <QDialog>

// The About box: the icon, the name and version, and an OK button.
class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

 protected:
  void changeEvent(QEvent* event) override;
};
