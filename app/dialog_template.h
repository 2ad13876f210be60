#pragma once

// The dialog tables made Qt widgets: the conversion of dialog units to pixels
// with the dialog font's metrics, so the window keeps its proportions at any
// font size and screen scale, and the widgets for each kind of control.

#include <QFont>
#include <QIcon>
#include <QWidget>
#include <QRect>
#include <QSize>

#include "dialog/dialog_table.h"

// The font every dialog is laid out with.
QFont DialogFont();

// Pixels per dialog unit, from a font: a horizontal unit is a quarter of the
// average character width, a vertical unit an eighth of the character height.
struct DialogUnits {
  double x;
  double y;
};
DialogUnits UnitsOf(const QFont& font);
QRect ToPixels(const DluRect& units, DialogUnits scale);
QSize ToPixels(const DluSize& units, DialogUnits scale);

// The application's icon in its two sizes.
QIcon AppIcon();

// Creates one control of a template as a child of the dialog, named, styled and
// enabled as the template says, with its focus policy; where it goes is LayOut's
// business. Null for a kind the caller builds itself.
QWidget* CreateControl(const ControlTemplate& control, QWidget& dialog);

// Places the dialog's controls (found by name) and sizes the dialog from the
// table, with the dialog's current font. Called again whenever the font changes.
void LayOut(QWidget& dialog, const DialogTemplate& form);
