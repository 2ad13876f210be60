#include "app/dialog_template.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <cmath>


QFont DialogFont() {
  // The dialogs were drawn for an 8-point sans-serif face; where that face is
  // missing, the closest sans-serif stands in and the units follow its metrics.
  QFont font(kDialogFontName, kDialogFontPoints);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

DialogUnits UnitsOf(const QFont& font) {
  const QFontMetricsF metrics(font);
  // The average width over the alphabet, rounded as dialog managers do.
  const double average =
      std::round(metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0);
  return {average / 4.0, std::round(metrics.height()) / 8.0};
}

QRect ToPixels(const DluRect& units, DialogUnits scale) {
  const auto x = [&](int u) { return static_cast<int>(std::lround(u * scale.x)); };
  const auto y = [&](int u) { return static_cast<int>(std::lround(u * scale.y)); };
  return QRect(x(units.x), y(units.y), x(units.width), y(units.height));
}

QSize ToPixels(const DluSize& units, DialogUnits scale) {
  return ToPixels(DluRect{0, 0, units.width, units.height}, scale).size();
}

void LayOut(QWidget& dialog, const DialogTemplate& form) {
  // An icon keeps the size of the window system's icons.
  constexpr int kIconPixels = 32;
  const DialogUnits units = UnitsOf(dialog.font());
  dialog.setFixedSize(ToPixels(form.units, units));
  for (const ControlTemplate& c : form.controls) {
    QWidget* widget = dialog.findChild<QWidget*>(c.name, Qt::FindDirectChildrenOnly);
    if (!widget) continue;
    QRect place = ToPixels(c.units, units);
    if (c.kind == ControlKind::Icon) place.setSize(QSize(kIconPixels, kIconPixels));
    widget->setGeometry(place);
  }
}

QIcon AppIcon() {
  QIcon icon;
  icon.addFile(":/icons/tovrin-16.png", QSize(16, 16));
  icon.addFile(":/icons/tovrin-32.png", QSize(32, 32));
  return icon;
}

QWidget* CreateControl(const ControlTemplate& c, QWidget& dialog) {
  QWidget* widget = nullptr;
  switch (c.kind) {
    case ControlKind::Label:
      widget = new QLabel(c.text, &dialog);
      break;
    case ControlKind::Icon: {
      auto* icon = new QLabel(&dialog);
      icon->setPixmap(AppIcon().pixmap(32, 32));
      widget = icon;
      break;
    }
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(c.text, &dialog);
      edit->setReadOnly(c.style & kReadOnly);
      if (c.style & kDigitsOnly) {
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
      }
      widget = edit;
      break;
    }
    case ControlKind::Button:
    case ControlKind::DefaultButton: {
      auto* button = new QPushButton(c.text, &dialog);
      button->setDefault(c.kind == ControlKind::DefaultButton);
      widget = button;
      break;
    }
    case ControlKind::Progress: {
      auto* bar = new QProgressBar(&dialog);
      bar->setTextVisible(false);
      widget = bar;
      break;
    }
  }
  widget->setObjectName(c.name);
  widget->setEnabled(!(c.style & kStartsDisabled));
  widget->setFocusPolicy(c.tabIndex >= 0 ? Qt::StrongFocus : Qt::NoFocus);
  return widget;
}
