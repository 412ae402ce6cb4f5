// The small drawing kit every view shares: the scale rule from design pixels
// to device pixels, the seven fonts, the palette, and the primitives (text,
// filled and outlined rounded rectangles, dots, the button, two row layouts).
#pragma once
#include <windows.h>
#include <stdint.h>

#include "ui/ui_types.h"
#include "ui/ui_state.h"

// Design length n in device pixels at the current dpi_scale: (int)(n * scale
// + 0.5) in single precision. Each constant is scaled on its own.
int px(int n);

// Palette, as RGB components. Every text that carries information keeps at
// least 4.5:1 against the surfaces it is drawn on, and every control outline,
// switch track and hover outline at least 3:1 (tests/ui/contrast_test.cpp
// lists the pairs the painters use).
enum : COLORREF {
  COLOR_BACKDROP = RGB(10, 14, 26),
  COLOR_SIDEBAR = RGB(15, 20, 36),
  COLOR_SURFACE = RGB(21, 28, 48),
  COLOR_SURFACE_RAISED = RGB(28, 37, 64),
  COLOR_BORDER = RGB(38, 48, 77),
  COLOR_BORDER_HOVER = RGB(188, 199, 230),  // hover outline: 3:1 against the outline it replaces
  COLOR_OUTLINE = RGB(95, 106, 140),        // outline of a control (buttons, boxes, the off switch)
  COLOR_ACCENT = RGB(255, 122, 61),
  COLOR_ACCENT_HOVER = RGB(255, 148, 97),
  COLOR_ACCENT_DISABLED = RGB(90, 58, 44),
  COLOR_ACCENT_DISABLED_TEXT = RGB(196, 170, 157),
  COLOR_TEXT = RGB(244, 246, 251),
  COLOR_TEXT_SECONDARY = RGB(154, 166, 198),
  COLOR_TEXT_MUTED = RGB(130, 141, 173),
  COLOR_ERROR = RGB(255, 90, 95),
  COLOR_WARNING = RGB(255, 178, 56),
  COLOR_SUCCESS = RGB(61, 214, 140),
  COLOR_FOCUS_RING = RGB(244, 246, 251),  // keyboard focus ring, drawn a gap outside its control
};

// High contrast. While the user has chosen a high-contrast theme, every
// palette colour a primitive is given is shown as the system colour of its
// role (window, window text, highlight, grey text, button face) and the views
// leave out the star tile and the banner art. read_high_contrast asks the
// platform (through high_contrast_query, a seam for tests) and keeps the
// answer in g_ui until asked again; the window asks at start-up and when the
// system colours or settings change.
extern bool (*high_contrast_query)();
void read_high_contrast();
bool high_contrast();
// The colour a primitive draws for a palette colour: itself, or in high
// contrast the system colour of its role. Other values pass unchanged.
COLORREF shown_colour(COLORREF palette_colour);

// Deletes the seven font handles that exist and makes all seven again at the
// current dpi_scale. Called at start-up and whenever the scale changes.
void create_fonts();

// SelectObject(font), text colour, transparent background, DrawTextW with
// DT_NOPREFIX added to flags. The text is clipped to rect.
void draw_text(HDC dc, const wchar_t* text, RECT rect, FontRole font, COLORREF colour, UINT flags);

// Fills rect with the stock DC brush; no outline.
void fill_solid(HDC dc, RECT rect, COLORREF colour);

// RoundRect with the stock DC brush and pen; corner is a design length.
void fill_round_rect(HDC dc, RECT rect, COLORREF fill, COLORREF border, int corner);

// A filled ellipse in rect, no outline.
void draw_dot(HDC dc, RECT rect, COLORREF colour);

// A button: colours by kind and state, moved down by px(1) while pressed,
// an optional icon (image id, 0 for none) and the label centred together.
// Only an enabled button records its hit region.
void draw_button(HDC dc, RECT rect, const wchar_t* label, int32_t id, int32_t arg, bool primary,
                 bool enabled, int icon);

// The same button as a square with its icon alone, for a row too narrow for
// the labels: the label still names it for the tooltip and screen readers.
void draw_icon_button(HDC dc, RECT rect, const wchar_t* label, int32_t id, int32_t arg, bool enabled, int icon);

// An outline around the focused item of the last paint, while the keyboard
// is in use; nothing otherwise. Drawn last, over everything.
void draw_focus_ring(HDC dc);

// The height of text wrapped at words to width pixels in a font.
int text_height(HDC dc, const wchar_t* text, int width, FontRole font);

// A settings row's title (cut with an ellipsis) and description, left of the
// 220-pixel control column. The row is px(66) high, or more when the
// description needs more than its two lines. Returns the y of the next row.
int draw_setting_label(HDC dc, int x, int right, int y, const wchar_t* title, const wchar_t* description);

// A label and a value (long paths lose their middle); advances y by px(30).
void draw_detail_row(HDC dc, int x, int* y, int width, const wchar_t* label, const wchar_t* value,
                     COLORREF value_colour);
