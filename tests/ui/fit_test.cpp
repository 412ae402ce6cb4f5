// The window's contents at the sizes people actually have: narrow windows,
// where the action row must not pile its buttons on top of each other, and
// short ones, where the settings panel and the library list scroll and their
// regions follow what shows.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/settings_table.h"
#include "core/state.h"
#include "library/catalog.h"
#include "pipeline/job_status.h"
#include "ui/draw_kit.h"
#include "ui/hit_regions.h"
#include "ui/main_view.h"
#include "ui/ui_state.h"
#include "ui_fixture.h"

namespace {

int P(float scale, int n) { return (int)((float)n * scale + 0.5f); }

std::string region_text(const RECT& r) {
  char text[64];
  snprintf(text, sizeof text, "(%ld, %ld, %ld, %ld)", r.left, r.top, r.right, r.bottom);
  return text;
}

const HitRegion* region_of(int32_t id, int32_t arg = 0) {
  for (int32_t i = 0; i < g_ui.hit_region_count; i++)
    if (g_ui.hit_regions[i].id == id && g_ui.hit_regions[i].arg == arg) return &g_ui.hit_regions[i];
  return nullptr;
}

const UiItem* item_of(int32_t id, int32_t arg = 0) {
  int32_t i = find_item(id, arg);
  return i >= 0 ? &g_ui.items[i] : nullptr;
}

bool inside(const RECT& r, int width, int height) {
  return r.left >= 0 && r.top >= 0 && r.right <= width && r.bottom <= height && r.left < r.right && r.top < r.bottom;
}

// ---- Narrow widths -------------------------------------------------------------

struct FitState {
  const char* name;
  void (*setup)();
  std::vector<int32_t> buttons;  // commands whose buttons must be there and clickable
};

const FitState FIT_STATES[] = {
    {"ready to play", [] { library_of_two(0, DISC_OK); use_built_folder(); },
     {CMD_PRIMARY_ACTION, CMD_OPEN_SETTINGS, CMD_OPEN_LOG, CMD_OPEN_GAME_FOLDER, CMD_REMOVE_ENTRY}},
    {"ready to build", [] { library_of_two(1, DISC_OK); },
     {CMD_PRIMARY_ACTION, CMD_OPEN_SETTINGS, CMD_OPEN_LOG, CMD_OPEN_GAME_FOLDER, CMD_REMOVE_ENTRY}},
    {"unknown disc", [] { library_of_two(-1, DISC_UNKNOWN); }, {CMD_OPEN_SETTINGS, CMD_REMOVE_ENTRY}},
    {"building", [] {
       library_of_two(0, DISC_OK);
       g_job.running = 1;
       g_job.entry_index = 0;
     },
     {CMD_CANCEL_BUILD}},
    {"empty library", [] {}, {CMD_ADD_DISC, CMD_SCAN_FOLDER}},
};

// Client widths from the smallest the window takes up to the first size,
// with the two either side of where the labels stop fitting.
const int WIDTHS[] = {800, 850, 900, 950, 1000, 1050, 1091, 1092, 1100};

// No region lies over another at any width, and every button of the state is
// there, whole and inside the window. (Below a client width of 1092, "Remove"
// used to cover "Game folder", and a click on the visible end of "Game
// folder" removed the disc.)
TEST(NarrowWidths, NoRegionOverlapsAnotherAndEveryButtonStaysReachable) {
  for (float scale : {1.0f, 1.5f}) {
    for (int design_width : WIDTHS) {
      for (const FitState& c : FIT_STATES) {
        SCOPED_TRACE(testing::Message() << c.name << " at " << design_width << " x 560, scale " << scale);
        fresh_state(scale);
        c.setup();
        int width = P(scale, design_width), height = P(scale, 560);
        Canvas canvas(width, height);
        canvas.paint();
        for (int32_t i = 0; i < g_ui.hit_region_count; i++) {
          for (int32_t j = i + 1; j < g_ui.hit_region_count; j++) {
            RECT overlap;
            const HitRegion& a = g_ui.hit_regions[i];
            const HitRegion& b = g_ui.hit_regions[j];
            EXPECT_FALSE(IntersectRect(&overlap, &a.rect, &b.rect))
                << "command " << a.id << " " << region_text(a.rect) << " and command " << b.id << " "
                << region_text(b.rect);
          }
        }
        // Disabled buttons have no region, but they must not overlap either.
        for (int32_t i = 0; i < g_ui.item_count; i++) {
          for (int32_t j = i + 1; j < g_ui.item_count; j++) {
            if (g_ui.items[i].role != UI_ROLE_BUTTON || g_ui.items[j].role != UI_ROLE_BUTTON) continue;
            RECT overlap;
            EXPECT_FALSE(IntersectRect(&overlap, &g_ui.items[i].rect, &g_ui.items[j].rect))
                << narrow(g_ui.items[i].name) << " and " << narrow(g_ui.items[j].name);
          }
        }
        for (int32_t id : c.buttons) {
          const HitRegion* region = region_of(id, id == CMD_ADD_DISC || id == CMD_SCAN_FOLDER ? 1 : 0);
          ASSERT_NE(region, nullptr) << "no region for command " << id;
          EXPECT_TRUE(inside(region->rect, width, height)) << "command " << id << " " << region_text(region->rect);
          const UiItem* item = item_of(region->id, region->arg);
          ASSERT_NE(item, nullptr) << "command " << id;
          EXPECT_TRUE(EqualRect(&item->rect, &region->rect)) << "the whole button is clickable: command " << id;
          EXPECT_NE(item->name[0], 0) << "a button without its label still has a name: command " << id;
        }
      }
    }
  }
}

// Where the labels fit (a client of 1092 and more at 100 %) the action row is
// as it always was; below, the four secondary buttons are squares of the
// button's height, evenly spaced after the primary button, with Remove at the
// right end.
TEST(NarrowWidths, SecondaryButtonsBecomeIconSquaresOnlyWhenTheLabelsDoNotFit) {
  const int32_t secondary[] = {CMD_OPEN_SETTINGS, CMD_OPEN_LOG, CMD_OPEN_GAME_FOLDER, CMD_REMOVE_ENTRY};
  for (float scale : {1.0f, 1.25f, 1.5f}) {
    for (int design_width : WIDTHS) {
      SCOPED_TRACE(testing::Message() << design_width << " at scale " << scale);
      fresh_state(scale);
      library_of_two(0, DISC_OK);
      use_built_folder();
      int width = P(scale, design_width);
      Canvas canvas(width, P(scale, 860));
      canvas.paint();
      int L = P(scale, 300) + P(scale, 24), R = width - P(scale, 24);
      bool labelled = L + P(scale, 182) + 2 * P(scale, 140) + P(scale, 150) + P(scale, 12) <= R - P(scale, 120);
      // At 125 % the rounding of each length moves the point by one width.
      if (scale != 1.25f) {
        EXPECT_EQ(labelled, design_width >= 1092);
      }
      int y = P(scale, 24) + P(scale, 150) + P(scale, 24) + P(scale, 4);
      for (int k = 0; k < 4; k++) {
        const HitRegion* region = region_of(secondary[k]);
        ASSERT_NE(region, nullptr) << k;
        RECT want;
        if (labelled) {
          const int widths[4] = {128, 128, 150, 120};
          int left = k == 3 ? R - P(scale, 120) : L + P(scale, 182) + k * P(scale, 140);
          want = {left, y, left + P(scale, widths[k]), y + P(scale, 40)};
        } else {
          int side = P(scale, 40);
          int left = k == 3 ? R - side : L + P(scale, 182) + k * (side + P(scale, 12));
          want = {left, y, left + side, y + side};
        }
        EXPECT_TRUE(EqualRect(&region->rect, &want)) << k << ": want " << region_text(want) << " got "
                                                     << region_text(region->rect);
      }
    }
  }
}

// ---- Scrolling -------------------------------------------------------------------

// The settings panel laid out unscrolled at scale s: the Rebuild button's
// rectangle and the content's height (the status line and a margin below the
// version line).
struct PanelGeometry {
  RECT rebuild;
  int content;
};
PanelGeometry panel_geometry(float s, int width) {
  int R = width - P(s, 24), C = R - P(s, 200);
  int y = P(s, 24) + P(s, 52) + P(s, 34) + 8 * P(s, 66);
  int end = y + P(s, 66) + P(s, 18);
  return {{C, y + P(s, 4), R, y + P(s, 36)}, end + P(s, 22) + P(s, 24)};
}

// A window lower than the settings panel: the panel's regions move up with
// the offset and are cut to the window, a region scrolled wholly out goes,
// and the bar shows the visible share. At the end the Rebuild row, cut off
// before, is whole and clickable.
TEST(PaneScroll, TheSettingsPanelsRegionsFollowTheOffsetAndStayInsideTheWindow) {
  struct Case {
    float scale;
    int design_height;
  } cases[] = {{1.0f, 560}, {1.0f, 700}, {1.5f, 560}, {1.25f, 620}};
  for (const Case& c : cases) {
    int width = P(c.scale, 1100), height = P(c.scale, c.design_height);
    PanelGeometry g = panel_geometry(c.scale, width);
    int limit = g.content - height;
    ASSERT_GT(limit, 0) << "the panel is taller than the window";
    for (int offset : {0, limit / 2, limit}) {
      SCOPED_TRACE(testing::Message() << "scale " << c.scale << " height " << c.design_height << " offset " << offset);
      fresh_state(c.scale);
      library_of_two(0, DISC_OK);
      g_state.settings_open = true;
      g_ui.pane_scroll = offset;
      Canvas canvas(width, height);
      canvas.paint();
      EXPECT_EQ(g_ui.pane_content_height, g.content);

      for (int32_t i = 0; i < g_ui.hit_region_count; i++)
        EXPECT_TRUE(inside(g_ui.hit_regions[i].rect, width, height))
            << "command " << g_ui.hit_regions[i].id << " " << region_text(g_ui.hit_regions[i].rect);

      RECT want = g.rebuild;
      OffsetRect(&want, 0, -offset);
      RECT shown, window = {0, 0, width, height};
      const HitRegion* rebuild = region_of(CMD_REBUILD);
      if (IntersectRect(&shown, &want, &window)) {
        ASSERT_NE(rebuild, nullptr);
        EXPECT_TRUE(EqualRect(&rebuild->rect, &shown)) << region_text(rebuild->rect) << " want " << region_text(shown);
      } else {
        EXPECT_EQ(rebuild, nullptr);
      }
      const UiItem* item = item_of(CMD_REBUILD);
      ASSERT_NE(item, nullptr) << "Tab reaches Rebuild wherever it is";
      EXPECT_TRUE(EqualRect(&item->rect, &want));
      EXPECT_EQ((item->flags & UI_ITEM_OFFSCREEN) != 0, want.top >= height);

      // The "Done" button scrolls away with the rest of the panel.
      const HitRegion* done = region_of(CMD_CLOSE_SETTINGS);
      int done_bottom = P(c.scale, 24) + P(c.scale, 36) - offset;
      if (done_bottom > 0) {
        ASSERT_NE(done, nullptr);
        EXPECT_EQ(done->rect.bottom, done_bottom);
        EXPECT_EQ(done->rect.top, std::max(0, P(c.scale, 28) - offset));
      } else {
        EXPECT_EQ(done, nullptr);
      }

      ScrollBar bar;
      ASSERT_TRUE(pane_scroll_bar(width, height, &bar));
      EXPECT_EQ(bar.limit, limit);
      const HitRegion* grip = region_of(SCROLL_BAR_PANE);
      ASSERT_NE(grip, nullptr);
      EXPECT_TRUE(EqualRect(&grip->rect, &bar.grip));
      EXPECT_GE(bar.grip.left, width - P(c.scale, 24)) << "the bar keeps to the pane's margin";
      int track = bar.track.bottom - bar.track.top, thumb = bar.thumb.bottom - bar.thumb.top;
      EXPECT_NEAR(thumb, (double)track * height / g.content, 1.0);
      EXPECT_NEAR(bar.thumb.top - bar.track.top, (double)(track - thumb) * offset / limit, 1.0);
    }
  }
}

// At the first size everything fits: no bar, no offset, no region of a bar.
TEST(PaneScroll, NoBarWhereTheContentFits) {
  for (float scale : {1.0f, 1.5f}) {
    for (bool settings : {false, true}) {
      fresh_state(scale);
      library_of_two(0, DISC_OK);
      g_state.settings_open = settings;
      int width = P(scale, 1100), height = P(scale, 860);
      Canvas canvas(width, height);
      canvas.paint();
      ScrollBar bar;
      EXPECT_FALSE(pane_scroll_bar(width, height, &bar)) << scale << " settings " << settings;
      EXPECT_FALSE(list_scroll_bar(height, &bar));
      EXPECT_EQ(region_of(SCROLL_BAR_PANE), nullptr);
      EXPECT_EQ(region_of(SCROLL_BAR_LIST), nullptr);
      EXPECT_FALSE(keep_pane_scroll_in_range(height)) << "an offset of 0 stays";
    }
  }
}

// A view keeps its offset only while it shows: another view starts at its
// top, and content that came out shorter brings the offset back to its end.
TEST(PaneScroll, AnotherViewStartsAtItsTopAndAShorterContentAtItsEnd) {
  fresh_state(1.0f);
  library_of_two(0, DISC_OK);
  g_state.settings_open = true;
  Canvas canvas(1100, 560);
  canvas.paint();
  int limit = g_ui.pane_content_height - 560;
  ASSERT_GT(limit, 100);

  g_ui.pane_scroll = 50;
  EXPECT_FALSE(keep_pane_scroll_in_range(560)) << "the same view keeps an offset inside its content";
  EXPECT_EQ(g_ui.pane_scroll, 50);
  g_ui.pane_scroll = limit + 40;
  EXPECT_TRUE(keep_pane_scroll_in_range(560));
  EXPECT_EQ(g_ui.pane_scroll, limit);
  g_ui.pane_scroll = limit;
  EXPECT_TRUE(keep_pane_scroll_in_range(700)) << "a taller window";
  EXPECT_EQ(g_ui.pane_scroll, limit - 140);

  g_ui.pane_scroll = 80;
  g_state.settings_open = false;  // back to the selected disc
  EXPECT_TRUE(keep_pane_scroll_in_range(560));
  EXPECT_EQ(g_ui.pane_scroll, 0);
}

// The focus rests on what shows: a control below the window's end or above
// its top brings the pane just far enough, within the content.
TEST(PaneScroll, ScrollingToShowAControlMovesJustEnough) {
  fresh_state(1.0f);
  g_state.settings_open = true;
  Canvas canvas(1100, 560);
  canvas.paint();
  int limit = g_ui.pane_content_height - 560;
  struct Case {
    int start;
    RECT rect;  // as the last paint placed it
    int expected;
  } cases[] = {
      {0, {900, 100, 1000, 140}, 0},                // shows already
      {0, {900, 600, 1000, 632}, 632 - 548},        // below: its bottom comes to 12 above the end
      {100, {900, -40, 1000, -8}, 100 - 40 - 12},   // above: its top comes to 12 below the top
      {0, {900, 2000, 1000, 2040}, limit},          // never past the content's end
      {30, {900, -100, 1000, -60}, 0},              // nor above its top
  };
  for (const Case& c : cases) {
    g_ui.pane_scroll = c.start;
    scroll_pane_to_show(c.rect, 560);
    EXPECT_EQ(g_ui.pane_scroll, c.expected) << "start " << c.start << " rect top " << c.rect.top;
  }
}

// The list's bar: shown only when the rows overrun the list, in the rows'
// right margin, with the thumb's travel mapping onto the whole offset range.
TEST(ListScroll, TheBarShowsTheVisibleShareAndItsDragMapsToTheOffset) {
  for (float scale : {1.0f, 1.5f}) {
    SCOPED_TRACE(testing::Message() << "scale " << scale);
    fresh_state(scale);
    for (int i = 0; i < 30; i++) set_entry(i, L"C:\\discs\\x.iso", "", "", -1, DISC_NOT_FOUND);
    g_state.entry_count = 30;
    int height = P(scale, 700);
    Canvas canvas(P(scale, 1100), height);
    canvas.paint();
    ScrollBar bar;
    ASSERT_TRUE(list_scroll_bar(height, &bar));
    EXPECT_EQ(bar.limit, scroll_limit(height));
    const HitRegion* grip = region_of(SCROLL_BAR_LIST);
    ASSERT_NE(grip, nullptr);
    EXPECT_TRUE(EqualRect(&grip->rect, &bar.grip));
    // Clear of every row and of the sidebar's edge line.
    EXPECT_GE(bar.grip.left, P(scale, 300) - P(scale, 12));
    EXPECT_LT(bar.grip.right, P(scale, 300));
    int travel = (bar.track.bottom - bar.track.top) - (bar.thumb.bottom - bar.thumb.top);
    ASSERT_GT(travel, 0);
    EXPECT_EQ(offset_for_thumb(bar, 0, travel), bar.limit) << "the thumb at the track's end";
    EXPECT_EQ(offset_for_thumb(bar, 0, travel * 4), bar.limit) << "and no further";
    EXPECT_EQ(offset_for_thumb(bar, bar.limit, -travel * 4), 0);
    EXPECT_NEAR(offset_for_thumb(bar, 0, travel / 2), bar.limit / 2, bar.limit / travel + 1);

    // The thumb follows the offset: at the end it sits at the track's end.
    g_ui.scroll_offset = bar.limit;
    ASSERT_TRUE(list_scroll_bar(height, &bar));
    EXPECT_EQ(bar.thumb.bottom, bar.track.bottom);
  }
  // Eight rows fit in 860: no bar.
  fresh_state(1.0f);
  for (int i = 0; i < 8; i++) set_entry(i, L"C:\\discs\\x.iso", "", "", -1, DISC_NOT_FOUND);
  g_state.entry_count = 8;
  ScrollBar bar;
  EXPECT_FALSE(list_scroll_bar(860, &bar));
}

// ---- Texts at narrow widths -----------------------------------------------------

bool contains(const std::vector<DrawnText>& drawn, const std::wstring& text) {
  for (const DrawnText& d : drawn)
    if (d.text == text) return true;
  return false;
}

// A description gets the lines it needs: every line of it lies above the
// next row's title with the row's gap, at the first size and in the smallest
// window (where the Resolution and F9 descriptions need a third line, which
// used to show as a sliver cut by the row's fixed height).
TEST(NarrowWidths, SettingDescriptionsGetTheLinesTheyNeed) {
  for (float scale : {1.0f, 1.5f}) {
    for (int design_width : {800, 900, 1100}) {
      SCOPED_TRACE(testing::Message() << design_width << " at scale " << scale);
      fresh_state(scale);
      g_state.settings_open = true;
      int width = P(scale, design_width);
      std::vector<DrawnText> drawn = record_texts(width, P(scale, 2000));
      TEXTMETRICW metrics = {};
      HDC dc = CreateCompatibleDC(NULL);
      SelectObject(dc, g_ui.fonts[FONT_SMALL]);
      GetTextMetricsW(dc, &metrics);
      DeleteDC(dc);
      // The titles in the panel's order, then "Rebuild the game".
      std::vector<size_t> titles;
      for (size_t i = 0; i < drawn.size(); i++) {
        // A title too long for a narrow label column ends with an ellipsis.
        std::wstring text = drawn[i].text;
        // (Wine's DrawText writes three dots for it.)
        if (!text.empty() && text.back() == L'\u2026') text.pop_back();
        if (text.size() > 3 && text.compare(text.size() - 3, 3, L"...") == 0) text.resize(text.size() - 3);
        bool title = !text.empty() && drawn[i].colour == COLOR_TEXT && std::wstring(L"Rebuild the game").find(text) == 0;
        for (const SettingInfo& setting : SETTING_TABLE)
          title = title || (!text.empty() && drawn[i].colour == COLOR_TEXT && std::wstring(setting.title).find(text) == 0);
        if (title) titles.push_back(i);
      }
      std::string seen;
      for (const DrawnText& d : drawn)
        if (d.colour == COLOR_TEXT) seen += "\n  " + narrow(d.text);
      ASSERT_EQ(titles.size(), 9u) << "the eight settings and the rebuild row; drawn:" << seen;
      int lines_total = 0;
      for (size_t k = 0; k + 1 < titles.size(); k++) {
        int next_title = drawn[titles[k + 1]].y;
        for (size_t i = titles[k] + 1; i < titles[k + 1]; i++) {
          if (drawn[i].colour != COLOR_TEXT_SECONDARY || drawn[i].y <= drawn[titles[k]].y) continue;
          lines_total++;
          EXPECT_LE(drawn[i].y + metrics.tmHeight, next_title - P(scale, 8))
              << narrow(drawn[i].text) << " runs into " << narrow(drawn[titles[k + 1]].text);
        }
      }
      EXPECT_GE(lines_total, 8);
    }
  }
}

// Every level name shows whole in the level box, in the smallest window and
// at the first size, without moving the box's buttons at the first size.
TEST(NarrowWidths, TheLevelBoxHoldsEveryLevelName) {
  for (float scale : {1.0f, 1.25f, 1.5f}) {
    for (int design_width : {800, 1100}) {
      for (int level = 0; level < LEVEL_COUNT; level++) {
        fresh_state(scale);
        g_state.settings_open = true;
        g_state.start_level = level;
        wchar_t value[64];
        swprintf(value, 64, L"%02d %ls", level, CATALOG[0].level_names[level]);
        std::vector<DrawnText> drawn = record_texts(P(scale, design_width), P(scale, 2000));
        EXPECT_TRUE(contains(drawn, value)) << narrow(value) << " at " << design_width << ", scale " << scale;
      }
    }
  }
}

// The empty state's invitation wraps in a narrow window instead of losing its
// end; at the first size it is one line, as before.
TEST(NarrowWidths, TheEmptyStatesInvitationWraps) {
  const std::wstring sentence = L"Add your own copy of the game as a disc image (.iso), or drop one on this window.";
  for (int design_width : {800, 1100}) {
    fresh_state(1.0f);
    std::vector<DrawnText> drawn = record_texts(design_width, 560);
    std::wstring joined;
    int lines = 0;
    for (const DrawnText& d : drawn) {
      if (d.colour != COLOR_TEXT_SECONDARY || sentence.find(d.text) == std::wstring::npos || d.text.size() < 8) continue;
      joined += (joined.empty() ? L"" : L" ") + d.text;
      lines++;
    }
    EXPECT_EQ(joined, sentence) << design_width;
    if (design_width == 1100) {
      EXPECT_EQ(lines, 1);
    }
  }
}

}  // namespace
