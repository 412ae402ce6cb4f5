// The drawing kit: scale rule, fonts, palette and primitives shared by every
// view. Colours go through the stock DC brush and pen, and fonts are made once
// per scale, so a paint creates no GDI object here; it keeps no state of its
// own beyond the seven font handles in the state record.
#include "ui/draw_kit.h"

#include <math.h>

#include "core/state.h"
#include "ui/image_assets.h"
#include "ui/ui_state.h"
#include "ui/hit_regions.h"

int px(int n) { return (int)((float)n * g_state.dpi_scale + 0.5f); }

// ---- High contrast -----------------------------------------------------------

static bool ask_platform_high_contrast() {
  HIGHCONTRASTW info = {};
  info.cbSize = sizeof info;
  if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof info, &info, 0)) return false;
  return (info.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

bool (*high_contrast_query)() = ask_platform_high_contrast;

void read_high_contrast() { g_ui.high_contrast = high_contrast_query && high_contrast_query(); }

bool high_contrast() { return g_ui.high_contrast; }

struct ColourRole {
  COLORREF palette;  // the design colour a painter passes
  int system;        // GetSysColor index of its role in a high-contrast theme
};

// Surfaces become the window, text the window text, the accent the highlight,
// muted and disabled text the grey text. Status colours (error, warning,
// success) become plain window text: their texts say what they mean.
static const ColourRole HIGH_CONTRAST_ROLES[] = {
    {COLOR_BACKDROP, COLOR_WINDOW},         {COLOR_SIDEBAR, COLOR_WINDOW},
    {COLOR_SURFACE, COLOR_WINDOW},          {COLOR_SURFACE_RAISED, COLOR_WINDOW},
    {COLOR_BORDER, COLOR_WINDOWTEXT},       {COLOR_OUTLINE, COLOR_WINDOWTEXT},
    {COLOR_BORDER_HOVER, COLOR_HIGHLIGHT},  {COLOR_ACCENT, COLOR_HIGHLIGHT},
    {COLOR_ACCENT_HOVER, COLOR_HIGHLIGHT},  {COLOR_ACCENT_DISABLED, COLOR_BTNFACE},
    {COLOR_ACCENT_DISABLED_TEXT, COLOR_GRAYTEXT},
    {COLOR_TEXT, COLOR_WINDOWTEXT},         {COLOR_TEXT_SECONDARY, COLOR_WINDOWTEXT},
    {COLOR_TEXT_MUTED, COLOR_GRAYTEXT},     {COLOR_ERROR, COLOR_WINDOWTEXT},
    {COLOR_WARNING, COLOR_WINDOWTEXT},      {COLOR_SUCCESS, COLOR_WINDOWTEXT},
};

COLORREF shown_colour(COLORREF palette_colour) {
  if (!g_ui.high_contrast) return palette_colour;
  for (const ColourRole& role : HIGH_CONTRAST_ROLES)
    if (role.palette == palette_colour) return GetSysColor(role.system);
  return palette_colour;
}

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
  SetTextColor(dc, shown_colour(colour));
  SetBkMode(dc, TRANSPARENT);
  // No mnemonic underlines: an "&" in a file name is shown as it is.
  DrawTextW(dc, text, -1, &rect, flags | DT_NOPREFIX);
}

void fill_solid(HDC dc, RECT rect, COLORREF colour) {
  SetDCBrushColor(dc, shown_colour(colour));
  FillRect(dc, &rect, (HBRUSH)GetStockObject(DC_BRUSH));
}

// ---- Smooth shapes -----------------------------------------------------------
//
// Rounded rectangles, pills and dots are drawn with anti-aliased edges: the
// shape's coverage of each pixel is computed from its distance to the edge,
// written as premultiplied pixels into a scratch DIB section and blended with
// AlphaBlend. Straight edges cover whole pixels and come out exactly as
// RoundRect draws them (a one-pixel outline inside the rectangle); only the
// corners get partial pixels. The scratch bitmap and its DC are made once and
// grown when a larger shape comes, so a paint makes no GDI object here.

static HDC g_scratch_dc;          // memory DC holding the scratch bitmap
static HBITMAP g_scratch;         // top-down 32-bit DIB section
static HGDIOBJ g_scratch_previous;
static uint32_t* g_scratch_bits;  // its pixels, g_scratch_width per row
static int g_scratch_width, g_scratch_height;

static bool scratch_for(int width, int height) {
  if (g_scratch && width <= g_scratch_width && height <= g_scratch_height) return true;
  if (width < 1 || height < 1 || width > 8192 || height > 8192) return false;
  int w = width > g_scratch_width ? width : g_scratch_width;
  int h = height > g_scratch_height ? height : g_scratch_height;
  if (!g_scratch_dc) g_scratch_dc = CreateCompatibleDC(NULL);
  if (!g_scratch_dc) return false;
  void* bits = NULL;
  HBITMAP made = create_top_down_bitmap(w, h, &bits);
  if (!made) return false;
  if (g_scratch) {
    SelectObject(g_scratch_dc, g_scratch_previous);
    DeleteObject(g_scratch);
  }
  g_scratch = made;
  g_scratch_previous = SelectObject(g_scratch_dc, made);
  g_scratch_bits = (uint32_t*)bits;
  g_scratch_width = w;
  g_scratch_height = h;
  return true;
}

// Signed distance from the pixel centre (x, y) to the edge of a rounded box of
// half extents (hx, hy) around the origin with corner radius r; negative inside.
static float rounded_box_distance(float x, float y, float hx, float hy, float r) {
  float qx = (x < 0 ? -x : x) - (hx - r), qy = (y < 0 ? -y : y) - (hy - r);
  float ox = qx > 0 ? qx : 0, oy = qy > 0 ? qy : 0;
  float inside = qx > qy ? qx : qy;
  return sqrtf(ox * ox + oy * oy) + (inside < 0 ? inside : 0) - r;
}

static float coverage(float distance) {
  float c = 0.5f - distance;
  return c <= 0 ? 0 : c >= 1 ? 1 : c;
}

// Writes the premultiplied pixels of the part (x0, y0, n x m) of a rounded
// shape of w x h into the scratch bitmap at (dx, dy).
struct ShapeInk {
  float hx, hy, r, ir;      // half extents, outer and inner corner radius
  bool outlined;            // a one-pixel outline inside the edge
  float fr, fg, fb;         // fill components
  float br, bg, bb;         // outline components
};

static void shape_pixels(const ShapeInk& k, int x0, int y0, int n, int m, int dx, int dy) {
  for (int y = 0; y < m; y++) {
    uint32_t* row = g_scratch_bits + (size_t)(dy + y) * g_scratch_width + dx;
    float cy = y0 + y + 0.5f - k.hy;
    for (int x = 0; x < n; x++) {
      float cx = x0 + x + 0.5f - k.hx;
      float outer = coverage(rounded_box_distance(cx, cy, k.hx, k.hy, k.r));
      float inner = k.outlined ? coverage(rounded_box_distance(cx, cy, k.hx - 1, k.hy - 1, k.ir)) : outer;
      if (inner > outer) inner = outer;
      float edge = outer - inner;
      uint32_t a = (uint32_t)(outer * 255 + 0.5f);
      uint32_t red = (uint32_t)(k.fr * inner + k.br * edge + 0.5f);
      uint32_t green = (uint32_t)(k.fg * inner + k.bg * edge + 0.5f);
      uint32_t blue = (uint32_t)(k.fb * inner + k.bb * edge + 0.5f);
      if (red > a) red = a;  // premultiplied: no channel above its alpha
      if (green > a) green = a;
      if (blue > a) blue = a;
      row[x] = (a << 24) | (red << 16) | (green << 8) | blue;
    }
  }
}

static void solid(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  if (right <= left || bottom <= top) return;
  RECT r = {left, top, right, bottom};
  SetDCBrushColor(dc, colour);
  FillRect(dc, &r, (HBRUSH)GetStockObject(DC_BRUSH));
}

// The shape of rect with corner radius in device pixels (clamped to half the
// smaller side), a fill and a one-pixel outline. Where the shape has straight
// edges, they and the inside are plain fills, whole pixels either way; only
// the four corner squares are computed and blended. A shape too small for
// that (a dot, a knob) is computed whole. False when no scratch bitmap could
// be had; the caller then draws with GDI's own shapes.
static bool blend_rounded_shape(HDC dc, RECT rect, COLORREF fill, COLORREF border, float radius, bool outlined) {
  int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0) return true;
  ShapeInk k;
  k.hx = w * 0.5f;
  k.hy = h * 0.5f;
  k.r = radius;
  if (k.r > k.hx) k.r = k.hx;
  if (k.r > k.hy) k.r = k.hy;
  if (k.r < 0) k.r = 0;
  k.ir = k.r - 1 > 0 ? k.r - 1 : 0;
  k.outlined = outlined;
  fill = shown_colour(fill);
  border = shown_colour(border);
  k.fr = GetRValue(fill), k.fg = GetGValue(fill), k.fb = GetBValue(fill);
  k.br = GetRValue(border), k.bg = GetGValue(border), k.bb = GetBValue(border);
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  int c = (int)ceilf(k.r);
  if (2 * c > w || 2 * c > h) {
    if (!scratch_for(w, h)) return false;
    GdiFlush();  // the previous blend has read the scratch pixels
    shape_pixels(k, 0, 0, w, h, 0, 0);
    return AlphaBlend(dc, rect.left, rect.top, w, h, g_scratch_dc, 0, 0, w, h, blend) != FALSE;
  }
  if (c > 0 && !scratch_for(4 * c, c)) return false;
  int l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
  int e = outlined ? 1 : 0;
  solid(dc, l + e, t + c, r - e, b - c, fill);
  solid(dc, l + c, t + e, r - c, t + c, fill);
  solid(dc, l + c, b - c, r - c, b - e, fill);
  if (outlined) {
    solid(dc, l + c, t, r - c, t + 1, border);
    solid(dc, l + c, b - 1, r - c, b, border);
    solid(dc, l, t + c, l + 1, b - c, border);
    solid(dc, r - 1, t + c, r, b - c, border);
  }
  if (c == 0) return true;
  GdiFlush();
  const int corner_x[4] = {0, w - c, 0, w - c}, corner_y[4] = {0, 0, h - c, h - c};
  for (int i = 0; i < 4; i++) shape_pixels(k, corner_x[i], corner_y[i], c, c, i * c, 0);
  bool drawn = true;
  for (int i = 0; i < 4; i++)
    drawn = AlphaBlend(dc, l + corner_x[i], t + corner_y[i], c, c, g_scratch_dc, i * c, 0, c, c, blend) && drawn;
  return drawn;
}

void fill_round_rect(HDC dc, RECT rect, COLORREF fill, COLORREF border, int corner) {
  int c = px(corner);
  if (blend_rounded_shape(dc, rect, fill, border, c * 0.5f, fill != border)) return;
  HGDIOBJ old_brush = SelectObject(dc, GetStockObject(DC_BRUSH));
  HGDIOBJ old_pen = SelectObject(dc, GetStockObject(DC_PEN));
  SetDCBrushColor(dc, shown_colour(fill));
  SetDCPenColor(dc, shown_colour(border));
  RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, c, c);
  SelectObject(dc, old_pen);
  SelectObject(dc, old_brush);
}

void draw_dot(HDC dc, RECT rect, COLORREF colour) {
  int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (blend_rounded_shape(dc, rect, colour, colour, (w < h ? w : h) * 0.5f, false)) return;
  HGDIOBJ old_brush = SelectObject(dc, GetStockObject(DC_BRUSH));
  HGDIOBJ old_pen = SelectObject(dc, GetStockObject(NULL_PEN));
  SetDCBrushColor(dc, shown_colour(colour));
  Ellipse(dc, rect.left, rect.top, rect.right, rect.bottom);
  SelectObject(dc, old_pen);
  SelectObject(dc, old_brush);
}

static void draw_button_face(HDC dc, RECT rect, const wchar_t* label, int32_t id, int32_t arg, bool primary,
                             bool enabled, int icon, bool show_label) {
  // A disabled button has no hover look, so the pointer over it shows
  // whatever region lies beneath without the button pretending to answer.
  bool hovered = enabled && g_ui.hovered_id == id && g_ui.hovered_arg == arg;
  bool pressed = hovered && g_ui.pressed_id == id && g_ui.pressed_arg == arg;
  COLORREF fill, outline, text;
  if (primary) {
    fill = !enabled ? COLOR_ACCENT_DISABLED : hovered ? COLOR_ACCENT_HOVER : COLOR_ACCENT;
    outline = fill;
    // In a high-contrast theme the disabled face is the button face, often
    // the window's own colour: the grey text outlines it, as it does the
    // label, so the button keeps its shape.
    if (g_ui.high_contrast && !enabled) outline = COLOR_ACCENT_DISABLED_TEXT;
    text = enabled ? COLOR_BACKDROP : COLOR_ACCENT_DISABLED_TEXT;
  } else {
    fill = hovered ? COLOR_SURFACE_RAISED : COLOR_SURFACE;
    outline = hovered ? COLOR_BORDER_HOVER : COLOR_OUTLINE;
    text = enabled ? COLOR_TEXT : COLOR_TEXT_MUTED;
  }
  if (pressed) OffsetRect(&rect, 0, px(1));
  fill_round_rect(dc, rect, fill, outline, 6);
  // The dark label on the accent is the highlight's own text colour in a
  // high-contrast theme; every other role maps one to one.
  COLORREF shown_text = (g_ui.high_contrast && primary && enabled) ? GetSysColor(COLOR_HIGHLIGHTTEXT)
                                                                   : shown_colour(text);

  FontRole font = primary ? FONT_STRONG : FONT_CONTROL;
  select_font(dc, font);
  SIZE extent = {0, 0};
  if (show_label) GetTextExtentPoint32W(dc, label, (int)wcslen(label), &extent);
  int content = show_label ? extent.cx + (icon ? px(18) + px(8) : 0) : px(18);
  int x = (rect.left + rect.right - content) / 2;
  if (icon) {
    int side = px(18);
    draw_image(dc, icon, side, side, 0, 0, side, side, x, (rect.top + rect.bottom - side) / 2, true,
               shown_text);
    x += px(18) + px(8);
  }
  // The label rectangle is the measured width plus a little slack, not the
  // button: a label wider than its button stays centred and runs past both edges.
  if (show_label) {
    RECT label_rect = {x, rect.top, x + extent.cx + px(2), rect.bottom};
    select_font(dc, font);
    SetTextColor(dc, shown_text);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, label, -1, &label_rect, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  }
  if (enabled) add_hit_region(rect, id, arg);
  record_item(rect, id, arg, UI_ROLE_BUTTON, enabled ? 0 : UI_ITEM_DISABLED, label, NULL);
}

void draw_button(HDC dc, RECT rect, const wchar_t* label, int32_t id, int32_t arg, bool primary,
                 bool enabled, int icon) {
  draw_button_face(dc, rect, label, id, arg, primary, enabled, icon, true);
}

void draw_icon_button(HDC dc, RECT rect, const wchar_t* label, int32_t id, int32_t arg, bool enabled, int icon) {
  draw_button_face(dc, rect, label, id, arg, false, enabled, icon, false);
}

void draw_focus_ring(HDC dc) {
  const UiItem* item = g_ui.focus_visible ? focused_item() : NULL;
  if (!item) return;
  // Two nested one-pixel outlines in the stock DC pen: a paint makes no GDI
  // object, and the ring stays two pixels wide at any scale.
  HGDIOBJ old_pen = SelectObject(dc, GetStockObject(DC_PEN));
  HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  // The ring lies on the pane a gap outside its control. In a high-contrast
  // theme that is the window colour, and the window text is the one colour
  // every theme keeps readable on it (the accent's highlight would merge
  // with the primary button it surrounds).
  SetDCPenColor(dc, g_ui.high_contrast ? GetSysColor(COLOR_WINDOWTEXT) : COLOR_ACCENT_HOVER);
  for (int inset = 0; inset < 2; inset++) {
    RECT ring = item->rect;
    InflateRect(&ring, px(3) - inset, px(3) - inset);
    int c = px(8);
    RoundRect(dc, ring.left, ring.top, ring.right, ring.bottom, c, c);
  }
  SelectObject(dc, old_brush);
  SelectObject(dc, old_pen);
}

int text_height(HDC dc, const wchar_t* text, int width, FontRole font) {
  select_font(dc, font);
  RECT r = {0, 0, width > 1 ? width : 1, 0};
  DrawTextW(dc, text, -1, &r, DT_WORDBREAK | DT_CALCRECT | DT_NOPREFIX);
  return r.bottom - r.top;
}

int draw_setting_label(HDC dc, int x, int right, int y, const wchar_t* title, const wchar_t* description) {
  RECT title_rect = {x, y, right - px(220), y + px(22)};
  draw_text(dc, title, title_rect, FONT_STRONG, COLOR_TEXT, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
  // Two lines fit the row; a narrow window or a wide font may need more, and
  // then the row grows by them instead of cutting the last one in half.
  RECT description_rect = {x, y + px(22), right - px(220), y + px(58)};
  int needed = y + px(22) + text_height(dc, description, description_rect.right - x, FONT_SMALL);
  if (needed > description_rect.bottom) description_rect.bottom = needed;
  draw_text(dc, description, description_rect, FONT_SMALL, COLOR_TEXT_SECONDARY, DT_WORDBREAK);
  int next = description_rect.bottom + px(8);
  return next > y + px(66) ? next : y + px(66);
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
