// The window's answer to assistive technology: an MSAA IAccessible for the
// client area whose children are the items of the last paint plus the status
// line, and the events that tell a screen reader what changed.
#pragma once
#include <windows.h>
#include <stdint.h>

// A command a screen reader asked for (accDoDefaultAction). It is posted, not
// performed inside the call: a command may open a dialog, and the reader's
// call must return first. wParam: the command; lParam: its argument.
enum { WM_APP_ACCESSIBLE_COMMAND = WM_APP + 20 };

// The answer to WM_GETOBJECT: the client object for OBJID_CLIENT, 0 (let
// the platform answer) for any other object.
LRESULT answer_get_object(HWND window, WPARAM wparam, LPARAM lparam);

// The text of the status line a reader is given: the selected disc's build
// error, else the status text; may be empty.
void status_line_text(wchar_t* out, size_t capacity);

// After each paint: raises the focus event when the focused item changed and
// the live-region and name-change events when the status line did.
void announce_changes(HWND window);

// The window is going: the object held for it answers nothing from now on
// and is released.
void release_accessible(HWND window);
