// The window's contents, drawn from the state record on every paint, with a
// hit region recorded for each clickable thing.
#pragma once
#include <windows.h>
#include <stdint.h>

// Draws the whole client area (left and top 0) and rebuilds the hit regions.
void paint_window(HDC dc, const RECT* client);

struct StatusLabel {
  const wchar_t* text;  // static text, never null
  COLORREF colour;      // the dot's colour
};

// The one label of library entry index: its row and the selected view show it.
StatusLabel status_label(int32_t index);
