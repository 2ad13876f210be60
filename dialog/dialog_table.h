#pragma once

// The two dialogs as tables of controls with their rectangles in dialog units:
// one description that every window lays out with its own toolkit, converting
// the units with its dialog font's metrics.

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

// A rectangle and a size in dialog units: a horizontal unit is a quarter of the
// dialog font's average character width, a vertical unit an eighth of its height.
struct DluRect {
  int x;
  int y;
  int width;
  int height;
};
struct DluSize {
  int width;
  int height;
};

struct ControlTemplate {
  int id;            // -1 for labels that nothing refers to
  const char* name;  // the control's object name
  ControlKind kind;
  const char* text;
  DluRect units;
  unsigned style;
  int tabIndex;      // place in the tab order, -1 when not a tab stop
};

struct DialogTemplate {
  DluSize units;
  std::span<const ControlTemplate> controls;
  const char* caption;
};

// The font both dialogs are laid out in: its metrics define the dialog units.
constexpr const char* kDialogFontName = "MS Sans Serif";
constexpr int kDialogFontPoints = 8;

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();
