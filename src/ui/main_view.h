// The window's contents, drawn from the state record on every paint, with a
// hit region recorded for each clickable thing.
#pragma once
#include <windows.h>
#include <stdint.h>

// Draws the whole client area (left and top 0) and rebuilds the hit regions.
// It changes nothing else: the scroll offset it draws with is kept in range
// where it changes (keep_scroll_in_range).
void paint_window(HDC dc, const RECT* client);

// The largest scroll offset at which the list's last row still ends above
// the sidebar's footer in a client area client_height high; 0 or less when
// the whole list fits.
int scroll_limit(int client_height);

// Brings the scroll offset back within the list for the main window's
// client area as it is now. Removals, a taller window or a new scale can
// leave the offset the wheel set past the list's end, and then not a row
// would show until the next wheel event. Nothing without a window.
void keep_scroll_in_range();

struct StatusLabel {
  const wchar_t* text;  // static text, never null
  COLORREF colour;      // the dot's colour
};

// The one label of library entry index: its row and the selected view show it.
StatusLabel status_label(int32_t index);
