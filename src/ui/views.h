// The steps of paint_window that live in their own files: the settings panel
// and the selected disc's detail cards. L and R are the main pane's edges.
#pragma once
#include <windows.h>
#include <stdint.h>

// The settings panel in place of the selected view; records its regions.
// Returns the y below its last row.
int draw_settings_panel(HDC dc, int left, int right);

// game_files_present of a catalogue row, asked once per paint: within one
// paint_window the row's library rows, its selected view and its Disc card
// all ask, and each question costs several file-attribute calls. Outside a
// paint it asks every time.
bool files_present_this_paint(int32_t row);

// The "Disc" card from y0 and, for a disc with a game to build, the
// "Controller" legend when it fits whole above bottom - px(24). No regions.
// Returns the y below the last card drawn.
int draw_disc_details(HDC dc, int32_t index, int left, int right, int y0, int bottom);
