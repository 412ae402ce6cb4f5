// The window's own state: what the last paint recorded for input, the pointer
// and button state, the list's scroll, and the drawing resources kept between
// paints. The main thread alone touches it; nothing below the window reads it.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "ui/hit_regions.h"
#include "ui/ui_types.h"

struct UiState {
  // Input
  HitRegion hit_regions[HIT_REGION_CAPACITY];  // recorded by the last paint, in drawing order
  int32_t hit_region_count;            // regions recorded
  int32_t hovered_id, hovered_arg;     // region under the pointer; (0, 0) for none
  int32_t pressed_id, pressed_arg;     // region where the left button went down; (0, 0) for none
  int32_t scroll_offset;               // library list scroll in pixels, never negative
  RECT progress_block;                 // where the last paint drew the build's progress block; empty for none
  int32_t pane_scroll;                 // main pane scroll in pixels, never negative
  int32_t pane_content_height;         // the main pane's content as the last paint laid it out, in pixels
  int32_t pane_view;                   // the view the last paint showed (pane_view_now); its scroll belongs to it
  int32_t drag_bar;                    // the scroll bar the pointer drags (SCROLL_BAR_*), 0 for none
  int32_t drag_start_y;                // client y where the drag began
  int32_t drag_start_offset;           // that bar's offset when the drag began

  // Keyboard and assistive technology
  UiItem items[UI_ITEM_CAPACITY];      // recorded by the last paint, in reading order
  int32_t item_count;                  // items recorded
  int32_t focus_id, focus_arg;         // item the keyboard acts on; (0, 0) for none
  bool focus_visible;                  // true from a key that moves or uses the focus to the next click

  // Drawing (fonts per scale, scaled images, the tiled background)
  HFONT fonts[FONT_COUNT];             // one handle per FontRole, made by create_fonts
  ImageCache image_cache;              // scaled bitmaps, emptied whole when full or on a DPI change
  HBRUSH background_brush;             // star-field pattern brush, or null; tiles a cached bitmap
  int32_t background_tile;             // tile side in device pixels the brush was made for
  NaturalSize natural_sizes[NATURAL_SIZE_CAPACITY];  // measured natural sizes, kept across flushes
  int32_t natural_size_count;          // records in natural_sizes
  bool high_contrast;                  // a high-contrast theme is on: system colours, no tile or banner
};

extern UiState g_ui;

// Sets every field to its value at process start (tests reuse one process).
void reset_ui_state();
