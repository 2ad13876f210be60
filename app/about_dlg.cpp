#include "app/about_dlg.h"

#include <QEvent>
#include <QPushButton>

#include "app/dialog_template.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(AboutDialogTemplate().caption);
  setFont(DialogFont());
  const DialogTemplate& form = AboutDialogTemplate();
  for (const ControlTemplate& c : form.controls) {
    QWidget* widget = CreateControl(c, *this);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      connect(button, &QPushButton::clicked, this, &QDialog::accept);
    }
  }
  LayOut(*this, form);
}

void CAboutDlg::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) LayOut(*this, AboutDialogTemplate());
  QDialog::changeEvent(event);
}
