// The pictures of the user interface: PNG resources decoded with WIC, scaled
// to the exact device size each view draws them at, kept as premultiplied
// BGRA DIB sections in a bounded cache, and drawn with AlphaBlend. Also the
// tiled background brush and the banner fitted to its rectangle.
#pragma once
#include <windows.h>
#include <wincodec.h>
#include <stdint.h>

// A top-down 32-bit DIB section of width x height (the layout every bitmap of
// the drawing code uses), its pixels in *bits. Null when it cannot be made.
HBITMAP create_top_down_bitmap(int width, int height, void** bits);

enum { IMAGE_PREFETCH_CAPACITY = 4 };

// An image at the device size a view draws it at.
struct ImageRequest {
  int id;
  int width, height;
};

// Start-up: decodes and scales the images (at most IMAGE_PREFETCH_CAPACITY,
// the first first, untinted) on a helper thread, so that their decoding (the
// banner's alone takes about 100 ms) overlaps the window's creation instead
// of holding up its first paint. A paint that asks for one of them at that
// size takes it when done, waits for it only while the helper is at it, and
// decodes it itself when the helper has not begun it; at another size it
// decodes it as always. The pixels are the same either way. Once per
// process; false when it cannot start.
bool start_image_prefetch(const ImageRequest* images, int count);

// Deletes what was made ahead and not used (the first frame did not draw it
// at that size, as in high contrast) and lets the helper stop before its
// next image.
void end_image_prefetch();

// How many images the window thread took from the helper, and how many the
// helper holds made and not yet taken.
int images_taken_decoded();
int images_decoded_ahead();

// The size draw_cover_image scales the image to for a bw x bh rectangle:
// just large enough to cover it, keeping the image's proportions. False for
// an empty rectangle or an image without a size.
bool cover_image_size(int id, int bw, int bh, int* sw, int* sh);

// First frame of the PNG resource id, or null. The caller releases it.
IWICBitmapFrameDecode* load_image_frame(int id);

// The image at width x height, tinted to a silhouette when asked; cached, so
// the caller must not delete it. Null when it cannot be made.
HBITMAP get_scaled_image(int id, int width, int height, bool tinted, COLORREF tint);

// Draws the dw x dh part of the width x height image that starts at (sx, sy)
// at (x, y), without stretching. False when no bitmap was available.
bool draw_image(HDC dc, int id, int width, int height, int sx, int sy, int dw, int dh, int x, int y,
                bool tinted, COLORREF tint);

// The whole image at width x height at (x, y), untinted.
bool draw_image(HDC dc, int id, int width, int height, int x, int y);

// Scales the image to cover rect, keeping its right edge and vertical centre.
// Only one size of each covered image stays cached.
void draw_cover_image(HDC dc, int id, RECT rect);

// The same, but what is cut from the height is cut above and below in the
// ratio anchor_percent : 100 - anchor_percent, so that the image's row at
// anchor_percent of its height stays where it is when the image just fits
// the height (50 is the centre).
void draw_cover_image(HDC dc, int id, RECT rect, int anchor_percent);

// The tiled star-field brush for a tile of px(171), or null when the tile
// cannot be made. Owned by the cache; the caller must not delete it.
HBRUSH get_background_brush();

// Deletes the background brush, then every cached bitmap; empties the cache
// and forgets the frame's kept parts (paint_cache.h), drawn with them.
// The remembered natural sizes survive. Call it when the DPI changes.
void flush_image_cache();
