#include "win32/dialog_builder.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <string>

#include "os/system_text.h"

namespace {

// Predefined window classes by ordinal, as a compiled dialog resource names them.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kOrdinal = 0xFFFF;  // the next WORD is an ordinal, not a string

void Align(std::vector<WORD>& out) {
  if (out.size() % 2 != 0) out.push_back(0);  // DWORD boundary
}

void PushDword(std::vector<WORD>& out, DWORD value) {
  out.push_back(LOWORD(value));
  out.push_back(HIWORD(value));
}

void PushText(std::vector<WORD>& out, const std::wstring& text) {
  for (wchar_t c : text) out.push_back(static_cast<WORD>(c));
  out.push_back(0);
}

DWORD StyleOf(const ControlTemplate& c) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  if (c.tabIndex >= 0) style |= WS_TABSTOP;
  if (c.style & kStartsDisabled) style |= WS_DISABLED;
  if (c.style & kBordered) style |= WS_BORDER;
  switch (c.kind) {
    case ControlKind::Label: return style | SS_LEFT;
    case ControlKind::Edit:
      style |= WS_BORDER | ES_AUTOHSCROLL;
      if (c.style & kReadOnly) style |= ES_READONLY;
      if (c.style & kDigitsOnly) style |= ES_NUMBER;
      return style;
    case ControlKind::Button: return style | BS_PUSHBUTTON;
    case ControlKind::DefaultButton: return style | BS_DEFPUSHBUTTON;
    case ControlKind::Progress: return style;
    case ControlKind::Icon: return style | SS_ICON;
  }
  return style;
}

void PushClass(std::vector<WORD>& out, ControlKind kind) {
  switch (kind) {
    case ControlKind::Label:
    case ControlKind::Icon: out.insert(out.end(), {kOrdinal, kStaticClass}); return;
    case ControlKind::Edit: out.insert(out.end(), {kOrdinal, kEditClass}); return;
    case ControlKind::Button:
    case ControlKind::DefaultButton: out.insert(out.end(), {kOrdinal, kButtonClass}); return;
    case ControlKind::Progress: PushText(out, PROGRESS_CLASSW); return;
  }
}

}  // namespace

std::wstring Wide(const char* text) { return WideFromUtf8(text); }

std::string Narrow(const std::wstring& text) { return Utf8FromWide(text); }

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& form, DWORD style) {
  std::vector<const ControlTemplate*> order;
  for (const ControlTemplate& c : form.controls) order.push_back(&c);
  std::stable_sort(order.begin(), order.end(), [](const ControlTemplate* a, const ControlTemplate* b) {
    const int ka = a->tabIndex < 0 ? INT_MAX : a->tabIndex;
    const int kb = b->tabIndex < 0 ? INT_MAX : b->tabIndex;
    return ka < kb;
  });

  std::vector<WORD> out;
  PushDword(out, style | DS_SETFONT);
  PushDword(out, 0);  // extended style
  out.push_back(static_cast<WORD>(order.size()));
  out.insert(out.end(), {0, 0});  // x, y: DS_CENTER or the system places it
  out.push_back(static_cast<WORD>(form.units.width));
  out.push_back(static_cast<WORD>(form.units.height));
  out.push_back(0);  // no menu
  out.push_back(0);  // the dialog class
  PushText(out, Wide(form.caption));
  out.push_back(static_cast<WORD>(kDialogFontPoints));
  PushText(out, Wide(kDialogFontName));

  for (const ControlTemplate* c : order) {
    Align(out);
    PushDword(out, StyleOf(*c));
    PushDword(out, 0);
    for (int v : {c->units.x, c->units.y, c->units.width, c->units.height}) out.push_back(static_cast<WORD>(v));
    out.push_back(static_cast<WORD>(c->id));  // -1 becomes 0xFFFF, the id of labels
    PushClass(out, c->kind);
    if (c->kind == ControlKind::Icon) {
      out.insert(out.end(), {kOrdinal, static_cast<WORD>(c->id)});  // the icon resource
    } else {
      PushText(out, Wide(c->text));
    }
    out.push_back(0);  // no creation data
  }
  return out;
}
