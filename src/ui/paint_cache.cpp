// Parts of a frame kept between paints; see paint_cache.h.
//
// Each part has one record: the inputs it was last drawn from (the caller's
// key bytes, the scale, the colour scheme and, in a high-contrast theme, the
// system colours the palette maps to), where it was drawn, and a DIB section
// holding the pixels. A restore compares all of them and copies the pixels
// back with one BitBlt; anything that differs, even a byte the picture does
// not show, only costs a fresh drawing.
//
// Memory: the records are static; one DIB section per part, remade when the
// part's size changes, and one memory DC to hold them, made on first use.
// Both live until flush_paint_cache.
#include "ui/paint_cache.h"

#include <string.h>

#include "core/state.h"
#include "ui/draw_kit.h"
#include "ui/image_assets.h"

// The system colours the palette maps to in a high-contrast theme
// (draw_kit.cpp's roles and the primary button's text).
static const int CONTRAST_COLOURS[] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT,
                                       COLOR_BTNFACE, COLOR_GRAYTEXT};
enum { CONTRAST_COLOUR_COUNT = sizeof CONTRAST_COLOURS / sizeof CONTRAST_COLOURS[0] };

// What the pixels of a kept part were drawn from, besides the caller's key.
struct PartContext {
  RECT area;                                    // where the part was drawn, device pixels
  float dpi_scale;                              // the scale of its lengths, images and fonts
  int32_t high_contrast;                        // 1: drawn in the system's colours
  COLORREF system_colours[CONTRAST_COLOUR_COUNT];  // those colours; zeros otherwise
};

struct KeptPart {
  HBITMAP bitmap;                 // the part's pixels, top-down 32-bit; null when nothing is kept
  int32_t width, height;          // the bitmap's size
  bool valid;                     // the pixels match context and key
  PartContext context;            // the inputs besides the key
  uint32_t key_bytes;             // bytes of key in use
  uint8_t key[PAINT_KEY_BYTES];   // the caller's inputs
};

static KeptPart g_parts[PAINT_PART_COUNT];
static HDC g_part_dc;              // memory DC the part bitmaps are selected into for copying
static HGDIOBJ g_part_dc_previous; // its own bitmap, put back before it is deleted
static int32_t g_restored;         // parts restored since the process started

static PartContext context_now(RECT area) {
  PartContext c;
  memset(&c, 0, sizeof c);  // padding too: contexts are compared as bytes
  c.area = area;
  c.dpi_scale = g_state.dpi_scale;
  c.high_contrast = high_contrast() ? 1 : 0;
  if (c.high_contrast)
    for (int i = 0; i < CONTRAST_COLOUR_COUNT; i++) c.system_colours[i] = GetSysColor(CONTRAST_COLOURS[i]);
  return c;
}

// Only a memory DC holds pixels that can be copied out and in; a metafile DC
// (the text-recording tests, a print) gets the drawing calls themselves.
static bool holds_pixels(HDC dc) { return dc && GetObjectType(dc) == OBJ_MEMDC; }

static bool part_dc() {
  if (g_part_dc) return true;
  g_part_dc = CreateCompatibleDC(NULL);
  if (!g_part_dc) return false;
  g_part_dc_previous = GetCurrentObject(g_part_dc, OBJ_BITMAP);
  return true;
}

bool restore_painted_part(HDC dc, PaintPart part, RECT area, const void* key, size_t key_bytes) {
  if ((unsigned)part >= PAINT_PART_COUNT || !holds_pixels(dc)) return false;
  KeptPart& kept = g_parts[part];
  if (!kept.valid || !kept.bitmap || key_bytes != kept.key_bytes || !g_part_dc) return false;
  PartContext now = context_now(area);
  if (memcmp(&now, &kept.context, sizeof now) != 0 || memcmp(key, kept.key, key_bytes) != 0) return false;
  SelectObject(g_part_dc, kept.bitmap);
  bool copied = BitBlt(dc, area.left, area.top, kept.width, kept.height, g_part_dc, 0, 0, SRCCOPY) != FALSE;
  SelectObject(g_part_dc, g_part_dc_previous);
  if (copied) g_restored++;
  return copied;
}

void keep_painted_part(HDC dc, PaintPart part, RECT area, const void* key, size_t key_bytes) {
  if ((unsigned)part >= PAINT_PART_COUNT || !holds_pixels(dc) || key_bytes > PAINT_KEY_BYTES) return;
  KeptPart& kept = g_parts[part];
  kept.valid = false;
  int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return;
  // A clip that hides any of the area (a paint of part of the window, the
  // bitmap ending inside it) left pixels undrawn: nothing is kept then.
  RECT visible;
  int shape = GetClipBox(dc, &visible);
  if (shape != SIMPLEREGION || area.left < visible.left || area.top < visible.top || area.right > visible.right ||
      area.bottom > visible.bottom)
    return;
  if (!part_dc()) return;
  if (kept.bitmap && (kept.width != width || kept.height != height)) {
    DeleteObject(kept.bitmap);
    kept.bitmap = NULL;
  }
  if (!kept.bitmap) {
    void* bits = NULL;
    kept.bitmap = create_top_down_bitmap(width, height, &bits);
    if (!kept.bitmap) return;
    kept.width = width;
    kept.height = height;
  }
  SelectObject(g_part_dc, kept.bitmap);
  bool copied = BitBlt(g_part_dc, 0, 0, width, height, dc, area.left, area.top, SRCCOPY) != FALSE;
  SelectObject(g_part_dc, g_part_dc_previous);
  if (!copied) return;
  kept.context = context_now(area);
  kept.key_bytes = (uint32_t)key_bytes;
  memcpy(kept.key, key, key_bytes);
  kept.valid = true;
}

void flush_paint_cache() {
  for (KeptPart& kept : g_parts) {
    if (kept.bitmap) DeleteObject(kept.bitmap);
    kept.bitmap = NULL;
    kept.valid = false;
  }
  if (g_part_dc) DeleteDC(g_part_dc);
  g_part_dc = NULL;
  g_part_dc_previous = NULL;
}

int32_t painted_parts_restored() { return g_restored; }
