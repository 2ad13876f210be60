#pragma once

// The dialog table turned into the window system's own in-memory dialog
// template, so that the dialog manager converts the dialog units with the
// dialog font's metrics exactly as it does for a compiled resource.

#include <windows.h>

#include <string>
#include <vector>

#include "dialog/dialog_table.h"

// A DLGTEMPLATE followed by one DLGITEMTEMPLATE per control, in WORDs so that
// the storage has the alignment both structures need. Controls with a tab index
// come first, in that order, because the order of the items is the tab order.
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& form, DWORD style);

// UTF-8 <-> UTF-16 for the texts the core and the controls exchange; every
// character survives both ways (a field's é is U+00E9, never U+FFFD).
std::wstring Wide(const char* text);
std::string Narrow(const std::wstring& text);
