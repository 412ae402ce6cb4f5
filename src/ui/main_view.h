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

// Draws the whole client area (left and top 0) and rebuilds the hit regions
// and items, and notes which view the main pane showed and how tall its
// content was laid out (for its scroll bar and keep_pane_scroll_in_range).
// It changes nothing else: the scroll offsets it draws with are kept in range
// where they change (keep_scroll_in_range, keep_pane_scroll_in_range).
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

// The slim scroll bars of the library list and of the main pane. Each shows
// only while its content is taller than the room it has; a bar is a track and
// a thumb whose length is the visible share of the content.
struct ScrollBar {
  RECT track;  // where the thumb runs, client coordinates
  RECT thumb;  // the thumb at the current offset
  RECT grip;   // the clickable area: the track and the margin around it
  int limit;   // the largest offset, more than 0
};

// The list's bar in a client area client_height high; false when the whole
// list fits.
bool list_scroll_bar(int client_height, ScrollBar* bar);

// The main pane's bar for a client area of this size, from the content
// height the last paint laid out; false when the content fits.
bool pane_scroll_bar(int client_width, int client_height, ScrollBar* bar);

// The offset that a thumb dragged by dy pixels from start_offset gives,
// within 0 and the bar's limit.
int offset_for_thumb(const ScrollBar& bar, int start_offset, int dy);

// Which view the main pane shows now: the settings panel, the empty state or
// one selected disc. Each view starts at its top.
int32_t pane_view_now();

// Brings the main pane's scroll offset within its content for a client area
// client_height high: back to the top when the view changed since the last
// paint, and no further than the content's end otherwise. True when the
// offset changed.
bool keep_pane_scroll_in_range(int client_height);

// Changes the main pane's offset just enough for rect (as the last paint
// placed it) to lie inside a client area client_height high, within the
// content (up to the top itself for a control within px(24) of it). For the
// keyboard: the focus never rests on a hidden control.
void scroll_pane_to_show(RECT rect, int client_height);

struct StatusLabel {
  const wchar_t* text;  // static text, never null
  COLORREF colour;      // the dot's colour
};

// The one label of library entry index: its row and the selected view show it.
StatusLabel status_label(int32_t index);
