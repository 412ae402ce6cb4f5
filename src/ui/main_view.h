// The window's contents, drawn from the state record on every paint, with a
// hit region recorded for each clickable thing.
#pragma once
#include <windows.h>

void paint_window(HDC dc, const RECT* client);
