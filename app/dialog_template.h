#pragma once

// The two dialogs as tables of controls with their rectangles in dialog units,
// and the conversion of those units to pixels with the dialog font's metrics, so
// the window keeps its proportions at any font size and screen scale.

#include <QFont>
#include <QIcon>
#include <QWidget>
#include <QRect>
#include <QSize>
#include <span>

enum class ControlKind { Label, Edit, Button, DefaultButton, Progress, Icon };

// Style bits of a control.
enum ControlStyle : unsigned {
  kStyleNone = 0,
  kReadOnly = 1u << 0,
  kDigitsOnly = 1u << 1,
  kStartsDisabled = 1u << 2,
  kBordered = 1u << 3,
};

struct ControlTemplate {
  int id;            // -1 for labels that nothing refers to
  const char* name;  // the control's object name
  ControlKind kind;
  const char* text;
  QRect units;       // x, y, width, height in dialog units
  unsigned style;
  int tabIndex;      // place in the tab order, -1 when not a tab stop
};

struct DialogTemplate {
  QSize units;
  std::span<const ControlTemplate> controls;
};

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();

// The font every dialog is laid out with.
QFont DialogFont();

// Pixels per dialog unit, from a font: a horizontal unit is a quarter of the
// average character width, a vertical unit an eighth of the character height.
struct DialogUnits {
  double x;
  double y;
};
DialogUnits UnitsOf(const QFont& font);
QRect ToPixels(const QRect& units, DialogUnits scale);
QSize ToPixels(const QSize& units, DialogUnits scale);

// The application's icon in its two sizes.
QIcon AppIcon();

// Creates one control of a template as a child of the dialog, named, styled and
// enabled as the template says, with its focus policy; where it goes is LayOut's
// business. Null for a kind the caller builds itself.
QWidget* CreateControl(const ControlTemplate& control, QWidget& dialog);

// Places the dialog's controls (found by name) and sizes the dialog from the
// table, with the dialog's current font. Called again whenever the font changes.
void LayOut(QWidget& dialog, const DialogTemplate& form);
