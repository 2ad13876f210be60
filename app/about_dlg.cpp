#include "app/about_dlg.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include "app/dialog_template.h"
#include "app/tovrin_dlg.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle("About Tovrin");
  setFont(DialogFont());
  const DialogTemplate& form = AboutDialogTemplate();
  for (const ControlTemplate& c : form.controls) {
    QWidget* widget = nullptr;
    switch (c.kind) {
      case ControlKind::Icon: {
        auto* icon = new QLabel(this);
        icon->setPixmap(AppIcon().pixmap(32, 32));
        widget = icon;
        break;
      }
      case ControlKind::Label:
        widget = new QLabel(c.text, this);
        break;
      case ControlKind::Button:
      case ControlKind::DefaultButton: {
        auto* button = new QPushButton(c.text, this);
        button->setDefault(c.kind == ControlKind::DefaultButton);
        connect(button, &QPushButton::clicked, this, &QDialog::accept);
        widget = button;
        break;
      }
      case ControlKind::Edit:
      case ControlKind::Progress:
        break;
    }
    if (!widget) continue;
    widget->setObjectName(c.name);
  }
  LayOut(*this, form);
}

void CAboutDlg::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) LayOut(*this, AboutDialogTemplate());
  QDialog::changeEvent(event);
}
