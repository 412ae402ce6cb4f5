// The drawing kit: scale rule, fonts, palette and primitives shared by every
// view. Colours go through the stock DC brush and pen, and fonts are made once
// per scale, so a paint creates no GDI object here; it keeps no state of its
// own beyond the seven font handles in the state record.
#include "ui/draw_kit.h"

#include "core/state.h"
#include "ui/image_assets.h"
#include "ui/ui_state.h"
#include "ui/hit_regions.h"

int px(int n) { return (int)((float)n * g_state.dpi_scale + 0.5f); }

struct FontStyle {
  int size;    // character height in design pixels
  int weight;  // FW_* value
};

// In FontRole order; HEADING and STRONG share parameters but stay two handles,
// so either role can change without touching the other.
static const FontStyle FONT_STYLES[FONT_COUNT] = {
    {30, 600}, {15, 600}, {14, 400}, {15, 600}, {12, 400}, {17, 700}, {14, 600},
};

void create_fonts() {
  for (int i = 0; i < FONT_COUNT; i++) {
    if (g_ui.fonts[i]) DeleteObject(g_ui.fonts[i]);
    g_ui.fonts[i] = NULL;
  }
  for (int i = 0; i < FONT_COUNT; i++) {
    // A failed font stays null; text is then drawn in whatever font the DC holds.
    g_ui.fonts[i] = CreateFontW(-px(FONT_STYLES[i].size), 0, 0, 0, FONT_STYLES[i].weight, FALSE, FALSE,
                                   FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
  }
}

static void select_font(HDC dc, FontRole font) {
  if ((unsigned)font < FONT_COUNT && g_ui.fonts[font]) SelectObject(dc, g_ui.fonts[font]);
}

void draw_text(HDC dc, const wchar_t* text, RECT rect, FontRole font, COLORREF colour, UINT flags) {
  select_font(dc, font);
  SetTextColor(dc, colour);
  SetBkMode(dc, TRANSPARENT);
  // No mnemonic underlines: an "&" in a file name is shown as it is.
  DrawTextW(dc, text, -1, &rect, flags | DT_NOPREFIX);
}

void fill_solid(HDC dc, RECT rect, COLORREF colour) {
  SetDCBrushColor(dc, colour);
  FillRect(dc, &rect, (HBRUSH)GetStockObject(DC_BRUSH));
}

void fill_round_rect(HDC dc, RECT rect, COLORREF fill, COLORREF border, int corner) {
  HGDIOBJ old_brush = SelectObject(dc, GetStockObject(DC_BRUSH));
  HGDIOBJ old_pen = SelectObject(dc, GetStockObject(DC_PEN));
  SetDCBrushColor(dc, fill);
  SetDCPenColor(dc, border);
  int c = px(corner);
  RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, c, c);
  SelectObject(dc, old_pen);
  SelectObject(dc, old_brush);
}

void draw_dot(HDC dc, RECT rect, COLORREF colour) {
  HGDIOBJ old_brush = SelectObject(dc, GetStockObject(DC_BRUSH));
  HGDIOBJ old_pen = SelectObject(dc, GetStockObject(NULL_PEN));
  SetDCBrushColor(dc, colour);
  Ellipse(dc, rect.left, rect.top, rect.right, rect.bottom);
  SelectObject(dc, old_pen);
  SelectObject(dc, old_brush);
}

void draw_button(HDC dc, RECT rect, const wchar_t* label, int32_t id, int32_t arg, bool primary,
                 bool enabled, int icon) {
  // A disabled button has no hover look, so the pointer over it shows
  // whatever region lies beneath without the button pretending to answer.
  bool hovered = enabled && g_ui.hovered_id == id && g_ui.hovered_arg == arg;
  bool pressed = hovered && g_ui.pressed_id == id && g_ui.pressed_arg == arg;
  COLORREF fill, outline, text;
  if (primary) {
    fill = !enabled ? COLOR_ACCENT_DISABLED : hovered ? COLOR_ACCENT_HOVER : COLOR_ACCENT;
    outline = fill;
    text = enabled ? COLOR_BACKDROP : COLOR_ACCENT_DISABLED_TEXT;
  } else {
    fill = hovered ? COLOR_SURFACE_RAISED : COLOR_SURFACE;
    outline = hovered ? COLOR_BORDER_HOVER : COLOR_BORDER;
    text = enabled ? COLOR_TEXT : COLOR_TEXT_MUTED;
  }
  if (pressed) OffsetRect(&rect, 0, px(1));
  fill_round_rect(dc, rect, fill, outline, 6);

  FontRole font = primary ? FONT_STRONG : FONT_CONTROL;
  select_font(dc, font);
  SIZE extent = {0, 0};
  GetTextExtentPoint32W(dc, label, (int)wcslen(label), &extent);
  int content = extent.cx + (icon ? px(18) + px(8) : 0);
  int x = (rect.left + rect.right - content) / 2;
  if (icon) {
    int side = px(18);
    draw_image(dc, icon, side, side, 0, 0, side, side, x, (rect.top + rect.bottom - side) / 2, true, text);
    x += px(18) + px(8);
  }
  // The label rectangle is the measured width plus a little slack, not the
  // button: a label wider than its button stays centred and runs past both edges.
  RECT label_rect = {x, rect.top, x + extent.cx + px(2), rect.bottom};
  draw_text(dc, label, label_rect, font, text, DT_SINGLELINE | DT_VCENTER);
  if (enabled) add_hit_region(rect, id, arg);
  record_item(rect, id, arg, UI_ROLE_BUTTON, enabled ? 0 : UI_ITEM_DISABLED, label, NULL);
}

void draw_focus_ring(HDC dc) {
  const UiItem* item = g_ui.focus_visible ? focused_item() : NULL;
  if (!item) return;
  // Two nested one-pixel outlines in the stock DC pen: a paint makes no GDI
  // object, and the ring stays two pixels wide at any scale.
  HGDIOBJ old_pen = SelectObject(dc, GetStockObject(DC_PEN));
  HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  SetDCPenColor(dc, COLOR_ACCENT_HOVER);
  for (int inset = 0; inset < 2; inset++) {
    RECT ring = item->rect;
    InflateRect(&ring, px(3) - inset, px(3) - inset);
    int c = px(8);
    RoundRect(dc, ring.left, ring.top, ring.right, ring.bottom, c, c);
  }
  SelectObject(dc, old_brush);
  SelectObject(dc, old_pen);
}

int draw_setting_label(HDC dc, int x, int right, int y, const wchar_t* title, const wchar_t* description) {
  RECT title_rect = {x, y, right - px(220), y + px(22)};
  draw_text(dc, title, title_rect, FONT_STRONG, COLOR_TEXT, DT_SINGLELINE | DT_VCENTER);
  RECT description_rect = {x, y + px(22), right - px(220), y + px(58)};
  draw_text(dc, description, description_rect, FONT_SMALL, COLOR_TEXT_SECONDARY, DT_WORDBREAK);
  return y + px(66);
}

void draw_detail_row(HDC dc, int x, int* y, int width, const wchar_t* label, const wchar_t* value,
                     COLORREF value_colour) {
  RECT label_rect = {x, *y, x + px(130), *y + px(22)};
  draw_text(dc, label, label_rect, FONT_BODY, COLOR_TEXT_SECONDARY, DT_SINGLELINE | DT_VCENTER);
  // DrawTextW with DT_PATH_ELLIPSIS may rewrite the text it draws only with
  // DT_MODIFYSTRING, which is never passed, so the caller's text stays as it is.
  RECT value_rect = {x + px(130), *y, x + width, *y + px(22)};
  draw_text(dc, value, value_rect, FONT_BODY, value_colour, DT_PATH_ELLIPSIS | DT_SINGLELINE | DT_VCENTER);
  *y += px(30);
}
