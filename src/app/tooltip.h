// The window's one tooltip control: it follows the item under the pointer
// (buttons, disabled ones too, switches and steppers) and shows the item's
// label, its shortcut and, on a disabled button, why it is disabled.
#pragma once
#include <windows.h>
#include <commctrl.h>

// Makes the tooltip control for the window; the window works without one
// when the platform refuses it.
void make_tooltip(HWND window);

// After a mouse move to (x, y): points the tooltip's one tool at the item
// under the pointer, or at nothing.
void track_tooltip(HWND window, int x, int y);

// WM_NOTIFY from the tooltip asking for its text; false for any other notice.
bool answer_tooltip(NMHDR* notice);

// The tooltip control of the window, or null.
HWND tooltip_window();
