// The window's contents, drawn from the state record on every paint, with a
// hit region recorded for each clickable thing.
#pragma once
#include <windows.h>
#include <stdint.h>

// The sidebar and its library list, in design lengths (px() scales each):
// the header with the wordmark, the list's clip area below the "LIBRARY"
// caption, the rows, and the footer with the add and scan buttons. The
// painter, the scroll limit and the window's list keys read them here.
enum {
  SIDEBAR_WIDTH = 300,        // the sidebar's width
  SIDEBAR_HEADER = 64,        // the header's height above the list
  LIST_CLIP_TOP = 30,         // the list's clip area starts this far below the header
  LIST_FIRST_ROW = 32,        // the first row's top below the header, unscrolled
  LIST_TOP = SIDEBAR_HEADER + LIST_FIRST_ROW,  // the first row's top in the window
  LIST_ROW_HEIGHT = 68,       // one row
  LIST_ROW_GAP = 6,           // between two rows
  LIST_ROW_INSET = 12,        // the rows' left inset and right margin
  SIDEBAR_FOOTER = 116,       // the footer's height below the list
};

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

// Changes the scroll offset just enough for the list's row to lie inside the
// list's clip area of a client area client_height high (its top, when the
// area is lower than a row), within the scroll limit. Nothing for a row out
// of the list.
void scroll_row_into_view(int32_t row, int client_height);

struct StatusLabel {
  const wchar_t* text;  // static text, never null
  COLORREF colour;      // the dot's colour
};

// The one label of library entry index: its row and the selected view show it.
StatusLabel status_label(int32_t index);
