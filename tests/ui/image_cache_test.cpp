// The image cache: decoding and scaling of the resource images, the tint
// rule, one record per (id, size, tint), the flush when full, the banner's
// single cached size, and what survives a DPI change.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "core/state.h"
#include "ui/draw_kit.h"
#include "ui/image_assets.h"
#include "ui/main_view.h"
#include "ui_fixture.h"
#include "ui/ui_state.h"
#include "ui/image_ids.h"

namespace {

int count_of(int id) {
  int n = 0;
  for (int i = 0; i < g_ui.image_cache.count; i++) n += g_ui.image_cache.records[i].id == id;
  return n;
}

const CachedImage* record_of(int id) {
  for (int i = 0; i < g_ui.image_cache.count; i++)
    if (g_ui.image_cache.records[i].id == id) return &g_ui.image_cache.records[i];
  return nullptr;
}

DIBSECTION dib_of(HBITMAP bitmap) {
  DIBSECTION dib = {};
  EXPECT_EQ(GetObjectW(bitmap, sizeof dib, &dib), (int)sizeof dib);
  return dib;
}

TEST(ImageCache, EveryResourceDecodesAtItsNaturalSize) {
  fresh_state(1.0f, false);
  struct Case {
    int first, last, width, height;
  };
  const Case cases[] = {{100, 100, 3840, 720}, {101, 102, 780, 120}, {103, 103, 960, 600},
                        {104, 104, 512, 512},  {120, 129, 60, 60},   {140, 149, 66, 66},
                        {160, 169, 66, 66}};
  for (const Case& c : cases)
    for (int id = c.first; id <= c.last; id++) {
      IWICBitmapFrameDecode* frame = load_image_frame(id);
      ASSERT_NE(frame, nullptr) << "image " << id;
      UINT w = 0, h = 0;
      EXPECT_TRUE(SUCCEEDED(frame->GetSize(&w, &h)));
      frame->Release();
      EXPECT_EQ((int)w, c.width) << "image " << id;
      EXPECT_EQ((int)h, c.height) << "image " << id;
    }
  EXPECT_EQ(load_image_frame(99), nullptr);
  EXPECT_EQ(load_image_frame(130), nullptr);
}

TEST(ImageCache, ScaledBitmapIsTopDownPremultipliedAtTheAskedSize) {
  for (float scale : {1.0f, 1.5f}) {
    fresh_state(scale, false);
    int side = px(18);
    HBITMAP bitmap = get_scaled_image(120, side, side, false, 0);
    ASSERT_NE(bitmap, nullptr);
    DIBSECTION dib = dib_of(bitmap);
    EXPECT_EQ(dib.dsBm.bmWidth, scale == 1.0f ? 18 : 27);
    EXPECT_EQ(dib.dsBm.bmHeight, scale == 1.0f ? 18 : 27);
    // (The row order shows in BannerCropKeepsTheRightEdgeAndTheMiddle, which
    // compares drawn rows with the bitmap's rows read top-down.)
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 32);
    // Premultiplied: no channel exceeds its alpha; the plus has opaque and clear pixels.
    const uint8_t* p = (const uint8_t*)dib.dsBm.bmBits;
    int opaque = 0, clear = 0;
    for (int i = 0; i < side * side; i++, p += 4) {
      ASSERT_LE(p[0], p[3]);
      ASSERT_LE(p[1], p[3]);
      ASSERT_LE(p[2], p[3]);
      opaque += p[3] == 255;
      clear += p[3] == 0;
    }
    EXPECT_GT(opaque, 0);
    EXPECT_GT(clear, 0);
  }
}

TEST(ImageCache, TintMakesASilhouetteOfTheAlpha) {
  fresh_state(1.0f, false);
  HBITMAP plain = get_scaled_image(129, 40, 40, false, 0);
  const COLORREF tints[] = {COLOR_ACCENT, COLOR_BACKDROP, RGB(255, 255, 255), RGB(1, 128, 254)};
  for (COLORREF tint : tints) {
    HBITMAP tinted = get_scaled_image(129, 40, 40, true, tint);
    ASSERT_NE(tinted, nullptr);
    ASSERT_NE(tinted, plain);
    const uint8_t* a = (const uint8_t*)dib_of(plain).dsBm.bmBits;
    const uint8_t* t = (const uint8_t*)dib_of(tinted).dsBm.bmBits;
    int partial = 0;
    for (int i = 0; i < 40 * 40; i++, a += 4, t += 4) {
      unsigned alpha = a[3];
      ASSERT_EQ(t[3], alpha);
      ASSERT_EQ(t[0], alpha * GetBValue(tint) / 255) << i;
      ASSERT_EQ(t[1], alpha * GetGValue(tint) / 255) << i;
      ASSERT_EQ(t[2], alpha * GetRValue(tint) / 255) << i;
      partial += alpha > 0 && alpha < 255;
    }
    EXPECT_GT(partial, 0) << "no edge pixels: the rounding is not exercised";
  }
}

TEST(ImageCache, OneRecordPerIdSizeAndTint) {
  fresh_state(1.0f, false);
  HBITMAP dark = get_scaled_image(120, 18, 18, true, COLOR_BACKDROP);
  HBITMAP light = get_scaled_image(120, 18, 18, true, COLOR_TEXT);
  ASSERT_NE(dark, nullptr);
  ASSERT_NE(light, nullptr);
  EXPECT_NE(dark, light);
  EXPECT_EQ(g_ui.image_cache.count, 2);
  HBITMAP plain = get_scaled_image(120, 18, 18, false, COLOR_TEXT);
  EXPECT_EQ(g_ui.image_cache.count, 3);
  // The tint of an untinted request is not compared.
  EXPECT_EQ(get_scaled_image(120, 18, 18, false, COLOR_ACCENT), plain);
  EXPECT_EQ(get_scaled_image(120, 18, 18, true, COLOR_BACKDROP), dark);
  EXPECT_EQ(get_scaled_image(120, 18, 18, true, COLOR_TEXT), light);
  EXPECT_EQ(g_ui.image_cache.count, 3);
  get_scaled_image(120, 19, 18, false, 0);
  EXPECT_EQ(g_ui.image_cache.count, 4);
}

TEST(ImageCache, RefusesSizesOutsideTheRangeAndMissingImages) {
  fresh_state(1.0f, false);
  struct Case {
    int id, width, height;
  };
  const Case cases[] = {{120, 0, 18}, {120, 18, 0}, {120, -5, 18}, {120, 8193, 1}, {120, 1, 8193}, {99, 18, 18}};
  for (const Case& c : cases) EXPECT_EQ(get_scaled_image(c.id, c.width, c.height, false, 0), nullptr) << c.width;
  EXPECT_EQ(g_ui.image_cache.count, 0);
  EXPECT_NE(get_scaled_image(120, 8192, 1, false, 0), nullptr);

  // draw_image reports the failure and draws nothing.
  Canvas canvas(40, 40);
  EXPECT_FALSE(draw_image(canvas.dc, 99, 18, 18, 0, 0));
  EXPECT_TRUE(draw_image(canvas.dc, 125, 18, 18, 0, 0));
}

TEST(ImageCache, TheHundredAndSixtyFirstRecordEmptiesTheCacheFirst) {
  fresh_state(1.0f, false);
  HBRUSH brush = get_background_brush();
  ASSERT_NE(brush, nullptr);
  EXPECT_EQ(g_ui.image_cache.count, 1);  // the tile
  for (int w = 1; g_ui.image_cache.count < IMAGE_CACHE_CAPACITY; w++)
    ASSERT_NE(get_scaled_image(125, w, 2, false, 0), nullptr);
  EXPECT_EQ(g_ui.image_cache.count, 160);
  EXPECT_EQ(g_ui.background_brush, brush);
  HBITMAP first = g_ui.image_cache.records[1].bitmap;
  HBITMAP extra = get_scaled_image(125, 500, 2, false, 0);
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(g_ui.image_cache.count, 1);
  EXPECT_EQ(g_ui.image_cache.records[0].bitmap, extra);
  // The brush went before the bitmap it tiles, and the old bitmaps are gone.
  EXPECT_EQ(g_ui.background_brush, nullptr);
  EXPECT_EQ(GetObjectType(first), 0u);
  // The next paint's request makes a new brush.
  EXPECT_NE(get_background_brush(), nullptr);
}

TEST(ImageCache, BrushIsRemadeOnlyWhenTheTileSizeChanges) {
  fresh_state(1.0f, false);
  HBRUSH a = get_background_brush();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(get_background_brush(), a);
  EXPECT_EQ(g_ui.background_tile, 171);
  g_state.dpi_scale = 1.5f;
  HBRUSH b = get_background_brush();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(g_ui.background_tile, 257);
  EXPECT_EQ(count_of(104), 2);
}

TEST(ImageCache, BannerKeepsOneSizeWhileTheWindowIsResized) {
  fresh_state(1.0f, false);
  Canvas canvas(1400, 200);
  struct Case {
    int width, height;
    int sw, sh;  // scaled size
    int sx, sy;  // source offset of the crop
  };
  const Case cases[] = {
      {1000, 150, 1000, 188, 0, 19},
      {1200, 150, 1200, 225, 0, 37},
      {600, 150, 800, 150, 200, 0},  // taller than wide: the left is cut
      {1000, 150, 1000, 188, 0, 19},
  };
  for (const Case& c : cases) {
    draw_cover_image(canvas.dc, 100, RECT{0, 0, c.width, c.height});
    EXPECT_EQ(count_of(100), 1) << c.width;
    const CachedImage* r = record_of(100);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->width, c.sw) << c.width;
    EXPECT_EQ(r->height, c.sh) << c.width;
  }
  // Other images stay: only the banner's other sizes go.
  get_scaled_image(120, 18, 18, false, 0);
  draw_cover_image(canvas.dc, 100, RECT{0, 0, 1100, 150});
  EXPECT_EQ(count_of(100), 1);
  EXPECT_EQ(count_of(120), 1);
  // A tinted record of the banner's id is not the banner's one size.
  get_scaled_image(100, 64, 12, true, COLOR_TEXT);
  draw_cover_image(canvas.dc, 100, RECT{0, 0, 1000, 150});
  EXPECT_EQ(count_of(100), 2);
}

TEST(ImageCache, BannerCropKeepsTheRightEdgeAndTheMiddle) {
  fresh_state(1.0f, false);
  // Paint the 1000 x 150 banner, then compare with the cached 1000 x 188
  // bitmap at the source offset (0, 19).
  Canvas canvas(1000, 150);
  draw_cover_image(canvas.dc, 100, RECT{0, 0, 1000, 150});
  GdiFlush();
  const CachedImage* r = record_of(100);
  ASSERT_NE(r, nullptr);
  const uint8_t* src = (const uint8_t*)dib_of(r->bitmap).dsBm.bmBits;
  for (int y = 0; y < 150; y += 7)
    for (int x = 0; x < 1000; x += 13) {
      const uint8_t* p = src + ((size_t)(y + 19) * 1000 + x) * 4;
      ASSERT_EQ(canvas.pixel(x, y), RGB(p[2], p[1], p[0])) << x << ", " << y;
    }
  // A banner wider than the scaler's limit draws nothing over its backdrop.
  Canvas wide(200, 10);
  fill_solid(wide.dc, RECT{0, 0, 200, 10}, COLOR_BACKDROP);
  draw_cover_image(wide.dc, 100, RECT{-9000, 0, 200, 10});
  GdiFlush();
  EXPECT_EQ(wide.pixel(100, 5), COLOR_BACKDROP);
}

TEST(ImageCache, DpiChangeDecodesAgainButKeepsTheBannersNaturalSize) {
  fresh_state(1.0f, false);
  library_of_two(0, DISC_OK);
  {
    Canvas canvas(1100, 860);
    canvas.paint();
  }
  ASSERT_GE(g_ui.natural_size_count, 1);
  ASSERT_EQ(g_ui.natural_sizes[0].id, 100);
  EXPECT_EQ(g_ui.natural_sizes[0].width, 3840);
  ASSERT_NE(record_of(120), nullptr);
  EXPECT_EQ(record_of(120)->width, 18);

  // Tamper with the remembered size: if the next paint measured the image
  // again, the banner would come out at the true aspect.
  g_ui.natural_sizes[0].width = 1920;
  g_state.dpi_scale = 1.5f;
  create_fonts();
  flush_image_cache();
  EXPECT_EQ(g_ui.image_cache.count, 0);
  EXPECT_EQ(g_ui.background_brush, nullptr);
  {
    Canvas canvas(1650, 1290);
    canvas.paint();
  }
  // Banner 1128 x 225 device pixels over a 1920 x 720 "natural" size: f = 0.5875.
  const CachedImage* banner = record_of(100);
  ASSERT_NE(banner, nullptr);
  EXPECT_EQ(banner->width, 1128);
  EXPECT_EQ(banner->height, 423);
  EXPECT_EQ(g_ui.natural_size_count, 1);
  // Every visible image was made again at the new scale.
  for (int i = 0; i < g_ui.image_cache.count; i++) {
    const CachedImage& r = g_ui.image_cache.records[i];
    if (r.id >= 120 && r.id <= 129) {
      EXPECT_EQ(r.width, 27) << r.id;
    } else if (r.id >= 140) {
      EXPECT_EQ(r.width, 36) << r.id;
    } else if (r.id == 101) {
      EXPECT_EQ(r.width, 390);
    }
  }
  EXPECT_NE(g_ui.background_brush, nullptr);
  EXPECT_EQ(g_ui.background_tile, 257);
}

TEST(ImageCache, RepaintWithEverythingCachedMakesNoNewRecord) {
  fresh_state(1.0f, false);
  library_of_two(0, DISC_OK);
  Canvas canvas(1100, 860);
  canvas.paint();
  int count = g_ui.image_cache.count;
  EXPECT_GT(count, 20);  // wordmark, tile, banner, six icons, twenty glyphs
  ASSERT_NE(record_of(100), nullptr);
  HBITMAP banner = record_of(100)->bitmap;
  canvas.paint();
  EXPECT_EQ(g_ui.image_cache.count, count);
  EXPECT_EQ(record_of(100)->bitmap, banner);
}

}  // namespace

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bits;
  DWORD bytes;
  WORD id;
};
struct GroupIconHeader {
  WORD reserved, type, count;
  GroupIconEntry entries[1];
};
#pragma pack(pop)

// Icon group 1 holds the ten sizes as 32-bit images stored as PNG, and the
// system loads the program icon at the sizes a window class asks for.
TEST(Resources, IconGroupHoldsTenPngSizes) {
  HRSRC info = FindResourceW(NULL, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
  ASSERT_NE(info, nullptr);
  const GroupIconHeader* group = (const GroupIconHeader*)LockResource(LoadResource(NULL, info));
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(group->type, 1);
  ASSERT_EQ(group->count, 10);
  const int sizes[10] = {16, 20, 24, 32, 40, 48, 64, 96, 128, 256};
  for (int i = 0; i < 10; i++) {
    const GroupIconEntry& e = group->entries[i];
    EXPECT_EQ(e.width == 0 ? 256 : e.width, sizes[i]) << i;
    EXPECT_EQ(e.bits, 32) << i;
    HRSRC image = FindResourceW(NULL, MAKEINTRESOURCEW(e.id), MAKEINTRESOURCEW(3) /* RT_ICON */);
    ASSERT_NE(image, nullptr) << i;
    const BYTE* bytes = (const BYTE*)LockResource(LoadResource(NULL, image));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(memcmp(bytes, "\x89PNG\r\n\x1a\n", 8), 0) << "size " << sizes[i] << " is not stored as PNG";
  }
  for (int side : {16, 32, 48, 256}) {
    HICON icon = (HICON)LoadImageW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(1), IMAGE_ICON, side, side, 0);
    EXPECT_NE(icon, nullptr) << side;
    if (icon) DestroyIcon(icon);
  }
}

// An image without a transparent pixel is copied instead of blended; on a
// busy background (the star field, half covered by a translucent wordmark)
// the copy must leave the pixels the blend leaves, a transparent image must
// still be blended, and a part of a cropped image lands where the blend puts it.
TEST(ImageCache, OpaqueImagesAreCopiedWithTheBlendsOwnPixels) {
  fresh_state(1.0f);
  struct Case {
    const char* name;
    int id, width, height, sx, sy, dw, dh;
    bool opaque;
  } cases[] = {
      {"banner, cropped", IMAGE_BANNER, 800, 150, 40, 20, 700, 110, true},
      {"tile", IMAGE_TILE, 171, 171, 0, 0, 171, 171, true},
      {"wordmark", IMAGE_WORDMARK_EMBLEM, 260, 40, 0, 0, 260, 40, false},
  };
  for (const Case& c : cases) {
    Canvas drawn(900, 300), blended(900, 300);
    for (Canvas* canvas : {&drawn, &blended}) {
      RECT all = {0, 0, 900, 300};
      SetBrushOrgEx(canvas->dc, 0, 0, NULL);
      FillRect(canvas->dc, &all, get_background_brush());
      draw_image(canvas->dc, IMAGE_WORDMARK_EMBLEM, 260, 40, 30, 30);
    }
    ASSERT_TRUE(draw_image(drawn.dc, c.id, c.width, c.height, c.sx, c.sy, c.dw, c.dh, 17, 23, false, 0)) << c.name;
    const CachedImage* r = nullptr;  // the record at this size: the banner keeps one size, the tile another
    for (int i = 0; i < g_ui.image_cache.count; i++) {
      const CachedImage& k = g_ui.image_cache.records[i];
      if (k.id == c.id && k.width == c.width && k.height == c.height && !k.tinted) r = &k;
    }
    ASSERT_NE(r, nullptr) << c.name;
    EXPECT_EQ(r->opaque != 0, c.opaque) << c.name;
    HDC source = CreateCompatibleDC(NULL);
    HGDIOBJ previous = SelectObject(source, r->bitmap);
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(blended.dc, 17, 23, c.dw, c.dh, source, c.sx, c.sy, c.dw, c.dh, blend);
    SelectObject(source, previous);
    DeleteDC(source);
    GdiFlush();
    EXPECT_EQ(memcmp(drawn.bits, blended.bits, 900 * 300 * 4), 0) << c.name;
  }
}

std::vector<uint8_t> pixels_of(HBITMAP bitmap) {
  std::vector<uint8_t> bytes;
  if (!bitmap) return bytes;
  GdiFlush();
  DIBSECTION dib = dib_of(bitmap);
  const uint8_t* bits = (const uint8_t*)dib.dsBm.bmBits;
  bytes.assign(bits, bits + (size_t)dib.dsBm.bmWidth * (size_t)dib.dsBm.bmHeight * 4);
  return bytes;
}

// Start-up makes the first frame's pictures on a helper thread. What the
// window takes from the helper must be exactly what it makes itself: an
// opaque banner shrunk to its cover size, the tile, the translucent wordmark.
// An image asked for at another size or tinted is made as always, and once
// the helper's images are used or dropped, the window makes them itself.
TEST(ImageCache, PicturesDecodedAheadScaleToTheSamePixels) {
  fresh_state(1.0f, false);
  struct Case {
    int id, width, height;
    bool tinted;
  };
  const Case cases[] = {{IMAGE_BANNER, 800, 150, false},
                        {IMAGE_TILE, 171, 171, false},
                        {IMAGE_WORDMARK_EMBLEM, 260, 40, false},
                        {ICON_PLUS, 18, 18, true}};
  // The helper makes the first three at their size, and the icon untinted
  // at another size: the window must not take either for the tinted icon.
  const COLORREF tint = RGB(200, 120, 40);
  std::vector<uint8_t> reference[4];
  flush_image_cache();
  for (int i = 0; i < 4; i++) {
    reference[i] = pixels_of(get_scaled_image(cases[i].id, cases[i].width, cases[i].height, cases[i].tinted, tint));
    ASSERT_EQ(reference[i].size(), (size_t)cases[i].width * cases[i].height * 4) << cases[i].id;
  }

  const ImageRequest ahead_of_time[] = {
      {IMAGE_BANNER, 800, 150}, {IMAGE_TILE, 171, 171}, {IMAGE_WORDMARK_EMBLEM, 260, 40}, {ICON_PLUS, 20, 20}};
  ASSERT_TRUE(start_image_prefetch(ahead_of_time, 4));
  EXPECT_FALSE(start_image_prefetch(ahead_of_time, 4)) << "a second helper would make the same pictures again";
  DWORD start = GetTickCount();
  while (images_decoded_ahead() < 4 && GetTickCount() - start < 20000) Sleep(5);
  ASSERT_EQ(images_decoded_ahead(), 4);
  int taken_before = images_taken_decoded();
  flush_image_cache();
  for (int i = 0; i < 4; i++) {
    std::vector<uint8_t> ahead =
        pixels_of(get_scaled_image(cases[i].id, cases[i].width, cases[i].height, cases[i].tinted, tint));
    EXPECT_TRUE(ahead == reference[i]) << "image " << cases[i].id;
  }
  EXPECT_EQ(images_taken_decoded() - taken_before, 3) << "the window made the first three itself";
  EXPECT_EQ(images_decoded_ahead(), 1) << "the untinted icon of another size was taken";

  end_image_prefetch();
  flush_image_cache();
  for (int i = 0; i < 4; i++) {
    std::vector<uint8_t> again =
        pixels_of(get_scaled_image(cases[i].id, cases[i].width, cases[i].height, cases[i].tinted, tint));
    EXPECT_TRUE(again == reference[i]) << "image " << cases[i].id;
  }
  EXPECT_EQ(images_taken_decoded() - taken_before, 3);
  EXPECT_EQ(images_decoded_ahead(), 0) << "what was not used is deleted";
}

}  // namespace
