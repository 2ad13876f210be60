#pragma once

// What a window manager sends when the operator closes a window from its frame,
// the task bar or a keyboard shortcut: a WM_DELETE_WINDOW client message, sent
// through the X server of $DISPLAY on a connection of its own. Apart from the
// window's code, because Xlib's macros (Status, None, Bool) clash with Qt's.

// False when the display cannot be opened or the message not sent.
bool SendDeleteRequest(unsigned long window);
