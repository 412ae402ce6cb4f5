// The drawing records that live in the launcher's state record: the font
// handles of the seven text roles and the cache of scaled images. Plain data;
// the logic is in draw_kit.cpp and image_assets.cpp.
#pragma once
#include <windows.h>
#include <stdint.h>

enum FontRole : int32_t {
  FONT_TITLE = 0,     // 30 px, 600: the disc title, "Settings", the empty-state heading
  FONT_HEADING = 1,   // 15 px, 600: card headings
  FONT_BODY = 2,      // 14 px, 400: hints, notes, the status line, detail rows
  FONT_STRONG = 3,    // 15 px, 600: row titles, setting titles, primary labels
  FONT_SMALL = 4,     // 12 px, 400: "LIBRARY", row status, descriptions
  FONT_WORDMARK = 5,  // 17 px, 700: the wordmark's text fallback
  FONT_CONTROL = 6,   // 14 px, 600: secondary labels, segments, value boxes
  FONT_COUNT = 7,
};

enum {
  IMAGE_CACHE_CAPACITY = 160,  // scaled bitmaps kept; the 161st empties the cache
  NATURAL_SIZE_CAPACITY = 64,  // measured natural sizes remembered
  IMAGE_SIDE_MAX = 8192,       // largest width or height the scaler makes
};

struct CachedImage {
  int32_t id;       // resource id
  int32_t width;    // device pixels, 1 to IMAGE_SIDE_MAX
  int32_t height;   // device pixels, 1 to IMAGE_SIDE_MAX
  int32_t tinted;   // 1: the pixels were recoloured to a silhouette in tint
  COLORREF tint;    // the tint colour; compared only when tinted
  int32_t opaque;   // 1: every pixel's alpha is 255, so a plain copy draws it exactly as a blend would
  HBITMAP bitmap;   // top-down 32-bit premultiplied BGRA DIB section, owned here
};

struct ImageCache {
  CachedImage records[IMAGE_CACHE_CAPACITY];  // in insertion order
  int32_t count;                              // records in use
};

struct NaturalSize {
  int32_t id;      // resource id
  int32_t width;   // natural width in pixels
  int32_t height;  // natural height in pixels
};
