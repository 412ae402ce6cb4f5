// The finish of the window: smooth edges on rounded shapes, the banner's
// horizon at wide windows, the main pane with discs but none selected, and
// the status line in every view.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/state.h"
#include "ui/draw_kit.h"
#include "ui/image_assets.h"
#include "ui/ui_state.h"
#include "ui_fixture.h"

namespace {

bool between(COLORREF c, COLORREF a, COLORREF b) {
  auto inside = [](int v, int x, int y) { return v >= (x < y ? x : y) && v <= (x < y ? y : x); };
  return inside(GetRValue(c), GetRValue(a), GetRValue(b)) && inside(GetGValue(c), GetGValue(a), GetGValue(b)) &&
         inside(GetBValue(c), GetBValue(a), GetBValue(b));
}

TEST(SmoothShapes, CornersBlendWhileStraightEdgesStayWholePixels) {
  struct Case {
    const char* name;
    RECT rect;
    int corner;
    COLORREF fill, border;
    bool dot;
    bool straight_sides, straight_top;  // which edges have a straight middle
  };
  const Case cases[] = {
      {"card", {10, 10, 210, 110}, 10, COLOR_SURFACE, COLOR_OUTLINE, false, true, true},
      {"pill", {10, 10, 50, 32}, 22, COLOR_ACCENT, COLOR_ACCENT, false, false, true},
      {"knob", {10, 10, 26, 26}, 16, COLOR_TEXT, COLOR_TEXT, false, false, false},
      {"dot", {10, 10, 19, 19}, 0, COLOR_SUCCESS, COLOR_SUCCESS, true, false, false},
  };
  for (float scale : {1.0f, 1.5f}) {
    fresh_state(scale);
    for (const Case& c : cases) {
      Canvas canvas(240, 130);
      fill_solid(canvas.dc, RECT{0, 0, 240, 130}, COLOR_BACKDROP);
      if (c.dot)
        draw_dot(canvas.dc, c.rect, c.fill);
      else
        fill_round_rect(canvas.dc, c.rect, c.fill, c.border, c.corner);
      GdiFlush();
      const RECT& r = c.rect;
      int mx = (r.left + r.right) / 2, my = (r.top + r.bottom) / 2;
      // Outside stays untouched, the middle is the fill.
      EXPECT_EQ(canvas.pixel(r.left - 1, my), COLOR_BACKDROP) << c.name;
      EXPECT_EQ(canvas.pixel(r.right, my), COLOR_BACKDROP) << c.name;
      EXPECT_EQ(canvas.pixel(mx, r.bottom), COLOR_BACKDROP) << c.name;
      EXPECT_EQ(canvas.pixel(mx, my), c.fill) << c.name;
      // The straight edges' middles are whole pixels of the outline colour,
      // as RoundRect draws them: one pixel inside the rectangle.
      if (c.straight_sides) {
        EXPECT_EQ(canvas.pixel(r.left, my), c.border) << c.name;
        EXPECT_EQ(canvas.pixel(r.right - 1, my), c.border) << c.name;
      }
      if (c.straight_top) {
        EXPECT_EQ(canvas.pixel(mx, r.top), c.border) << c.name;
      }
      // Along the curve some pixels are partly covered: blends between the
      // backdrop and the shape, found in neither colour.
      int partial = 0;
      for (int y = r.top; y < r.bottom; y++)
        for (int x = r.left; x < r.right; x++) {
          COLORREF p = canvas.pixel(x, y);
          if (p != COLOR_BACKDROP && p != c.fill && p != c.border && between(p, COLOR_BACKDROP, c.border)) partial++;
        }
      EXPECT_GE(partial, 4) << c.name << " at " << scale << ": stair-stepped corners";
      // The corner pixel itself is mostly outside the curve.
      COLORREF corner = canvas.pixel(r.left, r.top);
      EXPECT_NE(corner, c.border) << c.name;
    }
  }
}

const CachedImage* banner_record() {
  for (int i = 0; i < g_ui.image_cache.count; i++)
    if (g_ui.image_cache.records[i].id == 100 && !g_ui.image_cache.records[i].tinted)
      return &g_ui.image_cache.records[i];
  return nullptr;
}

TEST(BannerCrop, AWideWindowKeepsTheHorizonWhereTheFittedArtHasIt) {
  fresh_state(1.0f);
  library_of_two(0, DISC_OK);
  const int width = 4000, height = 860;
  Canvas canvas(width, height);
  canvas.paint();
  GdiFlush();
  const CachedImage* r = banner_record();
  ASSERT_NE(r, nullptr);
  int L = 324, R = width - 24, T = 24, bw = R - L, bh = 150;
  ASSERT_EQ(r->width, bw);  // wider than the art's ratio: the width fits
  ASSERT_GT(r->height, bh);
  // 74 % down the art (the sun's centre on the horizon) stays 74 % down the banner.
  int sy = (r->height - bh) * 74 / 100;
  EXPECT_NEAR(r->height * 74 / 100 - sy, bh * 74 / 100, 1);
  DIBSECTION dib = {};
  ASSERT_EQ(GetObjectW(r->bitmap, sizeof dib, &dib), (int)sizeof dib);
  const uint8_t* src = (const uint8_t*)dib.dsBm.bmBits;
  // Rows above the title and below the info line, away from the round corners.
  for (int y : {4, 10, 20, 112, 125, 140})
    for (int x = 20; x < bw - 20; x += 97) {
      const uint8_t* p = src + ((size_t)(y + sy) * r->width + x) * 4;
      ASSERT_EQ(canvas.pixel(L + x, T + y), RGB(p[2], p[1], p[0])) << x << ", " << y;
    }
}

bool drawn(const std::vector<DrawnText>& texts, const std::wstring& text, COLORREF colour) {
  for (const DrawnText& t : texts)
    if (t.text == text && t.colour == colour) return true;
  return false;
}

bool drawn_text(const std::vector<DrawnText>& texts, const std::wstring& text) {
  for (const DrawnText& t : texts)
    if (t.text == text) return true;
  return false;
}

TEST(MainPane, DiscsButNoneSelectedAskForAChoice) {
  fresh_state(1.0f);
  library_of_two(0, DISC_OK);
  g_state.selected = -1;
  std::vector<DrawnText> texts = record_texts(1100, 860);
  EXPECT_TRUE(drawn(texts, L"Select a disc", COLOR_TEXT));
  EXPECT_TRUE(drawn(texts, L"Choose a disc in the library on the left to build or play it, or add another.",
                    COLOR_TEXT_SECONDARY));
  EXPECT_FALSE(drawn_text(texts, L"Your library is empty"));
  // An empty library still invites the first disc.
  fresh_state(1.0f);
  texts = record_texts(1100, 860);
  EXPECT_TRUE(drawn(texts, L"Your library is empty", COLOR_TEXT));
  EXPECT_FALSE(drawn_text(texts, L"Select a disc"));
}

TEST(MainPane, TheStatusLineShowsInEveryView) {
  struct Case {
    const char* name;
    void (*setup)();
  };
  const Case cases[] = {
      {"empty library", [] {}},
      {"discs, none selected", [] { library_of_two(0, DISC_OK); g_state.selected = -1; }},
      {"settings panel", [] { g_state.settings_open = true; }},
      {"settings panel with a disc", [] { library_of_two(0, DISC_OK); g_state.settings_open = true; }},
      {"selected disc", [] { library_of_two(0, DISC_OK); }},
  };
  for (const Case& c : cases) {
    for (bool error : {false, true}) {
      fresh_state(1.0f);
      c.setup();
      copy_text(g_state.status_text, STATUS_TEXT_UNITS, L"Found 0 new disc images.");
      g_state.status_is_error = error;
      std::vector<DrawnText> texts = record_texts(1100, 860);
      EXPECT_TRUE(drawn(texts, L"Found 0 new disc images.", error ? COLOR_ERROR : COLOR_TEXT_SECONDARY))
          << c.name << (error ? " (error)" : "");
      // Empty: nothing is drawn for it.
      g_state.status_text[0] = 0;
      for (const DrawnText& t : record_texts(1100, 860)) EXPECT_FALSE(t.text.empty()) << c.name;
    }
  }
}

}  // namespace
