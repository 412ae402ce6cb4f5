// The main view, settings panel and detail cards as painted into memory: the
// hit regions of one frame per state at two scales, the pixels the layout
// fixes, and the texts (with their colours) that a frame draws.
#include <gtest/gtest.h>
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/settings_table.h"
#include "core/state.h"
#include "core/text.h"
#include "launch/game_launch.h"
#include "library/catalog.h"
#include "ui/draw_kit.h"
#include "ui/image_assets.h"
#include "ui/main_view.h"
#include "core/version.h"
#include "ui_fixture.h"
#include "ui/ui_state.h"
#include "pipeline/job_status.h"
#include "ui/hit_regions.h"

namespace {

// ---- Expected regions, from the layout's own rules ---------------------------

struct Region {
  int id, arg;
  RECT r;
};

bool operator==(const Region& a, const Region& b) {
  return a.id == b.id && a.arg == b.arg && EqualRect(&a.r, &b.r);
}

std::string describe(const std::vector<Region>& list) {
  std::string out;
  char line[96];
  for (const Region& g : list) {
    snprintf(line, sizeof line, "  id %d arg %d (%ld, %ld, %ld, %ld)\n", g.id, g.arg, g.r.left, g.r.top, g.r.right,
             g.r.bottom);
    out += line;
  }
  return out;
}

std::vector<Region> recorded() {
  std::vector<Region> out;
  for (int i = 0; i < g_ui.hit_region_count; i++)
    out.push_back({g_ui.hit_regions[i].id, g_ui.hit_regions[i].arg, g_ui.hit_regions[i].rect});
  return out;
}

// The geometry of one frame at scale s for a client of cw x ch.
struct Layout {
  float s;
  int cw, ch;
  int P(int n) const { return (int)((float)n * s + 0.5f); }
  int W() const { return P(300); }
  int H() const { return P(64); }
  int L() const { return W() + P(24); }
  int R() const { return cw - P(24); }
  int action_y() const { return P(24) + P(150) + P(24); }

  void rows(std::vector<Region>& out, int count, int scroll) const {
    int y = H() + P(32) - scroll;
    for (int i = 0; i < count; i++) {
      int b = y + P(68);
      // Only the part inside the list's clip area is clickable.
      int top = std::max(y, H() + P(30)), bottom = std::min(b, ch - P(116));
      if (top < bottom) out.push_back({CMD_SELECT_ENTRY, i, {P(12), top, W() - P(12), bottom}});
      y = b + P(6);
    }
  }
  void sidebar(std::vector<Region>& out) const {
    out.push_back({CMD_ADD_DISC, 0, {P(16), ch - P(100), W() - P(16), ch - P(60)}});
    out.push_back({CMD_SCAN_FOLDER, 0, {P(16), ch - P(52), W() - P(16), ch - P(16)}});
  }
  void empty_state(std::vector<Region>& out) const {
    int cy = ch / 2 + P(70), cx = (cw + W()) / 2;
    out.push_back({CMD_ADD_DISC, 1, {cx - P(176) - P(6), cy + P(30), cx - P(6), cy + P(70)}});
    out.push_back({CMD_SCAN_FOLDER, 1, {cx + P(6), cy + P(30), cx + P(6) + P(176), cy + P(70)}});
  }
  // Buttons of the action row: a mask of PRIMARY, SETTINGS, LOG, FOLDER, REMOVE.
  // Where the labels do not fit, the four secondary ones are icon squares.
  void button_row(std::vector<Region>& out, int mask) const {
    int y = action_y(), L = this->L(), R = this->R();
    int x2 = L + P(182) + P(140), x3 = x2 + P(140);
    if (mask & 1) out.push_back({CMD_PRIMARY_ACTION, 0, {L, y, L + P(170), y + P(48)}});
    if (x3 + P(150) + P(12) > R - P(120)) {
      int side = P(40), step = side + P(12), x = L + P(182);
      if (mask & 2) out.push_back({CMD_OPEN_SETTINGS, 0, {x, y + P(4), x + side, y + P(44)}});
      if (mask & 4) out.push_back({CMD_OPEN_LOG, 0, {x + step, y + P(4), x + step + side, y + P(44)}});
      if (mask & 8) out.push_back({CMD_OPEN_GAME_FOLDER, 0, {x + 2 * step, y + P(4), x + 2 * step + side, y + P(44)}});
      if (mask & 16) out.push_back({CMD_REMOVE_ENTRY, 0, {R - side, y + P(4), R, y + P(44)}});
      return;
    }
    if (mask & 2) out.push_back({CMD_OPEN_SETTINGS, 0, {L + P(182), y + P(4), L + P(182) + P(128), y + P(44)}});
    if (mask & 4) out.push_back({CMD_OPEN_LOG, 0, {x2, y + P(4), x2 + P(128), y + P(44)}});
    if (mask & 8) out.push_back({CMD_OPEN_GAME_FOLDER, 0, {x3, y + P(4), x3 + P(150), y + P(44)}});
    if (mask & 16) out.push_back({CMD_REMOVE_ENTRY, 0, {R - P(120), y + P(4), R, y + P(44)}});
  }
  void cancel(std::vector<Region>& out) const {
    int y = action_y();
    out.push_back({CMD_CANCEL_BUILD, 0, {R() - P(110), y + P(4), R(), y + P(44)}});
  }
  // A settings row is 66 high, or more where its description needs more than
  // two lines in the label column (rows in the table's order, as the panel
  // draws them: the resolution, the five switches, the two steppers).
  int row_height(int row) const {
    static const int ORDER[8] = {0, 1, 2, 3, 4, 7, 5, 6};  // panel rows to table rows
    const SettingInfo& setting = SETTING_TABLE[ORDER[row]];
    wchar_t description[200];
    format_text(description, 200, setting.description, (int)upscale_factor(), GetSystemMetrics(SM_CYSCREEN));
    HDC dc = CreateCompatibleDC(NULL);
    int h = text_height(dc, description, R() - P(220) - L(), FONT_SMALL);
    DeleteDC(dc);
    return std::max(P(66), P(22) + h + P(8));
  }
  void settings_panel(std::vector<Region>& out, bool rebuild) const {
    int T = P(24), R = this->R(), C = R - P(200);
    out.push_back({CMD_CLOSE_SETTINGS, 0, {R - P(90), T + P(4), R, T + P(36)}});
    int y = T + P(52) + P(34);
    int half = P(197) / 2;
    for (int i = 0; i < 2; i++)
      out.push_back({CMD_SET_RESOLUTION, i, {C + P(3) + i * half, y + P(4) + P(3), C + (i + 1) * half, y + P(36) - P(3)}});
    y += row_height(0);
    for (int i = 0; i < 5; i++) {
      out.push_back({CMD_TOGGLE_SETTING, i, {R - P(48), y + P(4), R, y + P(30)}});
      y += row_height(1 + i);
    }
    for (int k = 0; k < 2; y += row_height(6 + k), k++) {
      int top = y + P(4) + P(3), bottom = y + P(36) - P(3);
      out.push_back({k ? CMD_LEVEL_PREV : CMD_CAPTURE_LESS, 0, {C + P(3), top, C + P(35), bottom}});
      out.push_back({k ? CMD_LEVEL_NEXT : CMD_CAPTURE_MORE, 0, {R - P(35), top, R - P(3), bottom}});
    }
    if (rebuild) out.push_back({CMD_REBUILD, 0, {C, y + P(4), R, y + P(36)}});
    // A window lower than the panel cuts its regions at the window's end (a
    // region wholly below it goes) and shows the pane's scroll bar.
    size_t first = 0;
    while (first < out.size() && out[first].id != CMD_CLOSE_SETTINGS) first++;
    for (size_t i = first; i < out.size();) {
      if (out[i].r.top >= ch) {
        out.erase(out.begin() + i);
        continue;
      }
      if (out[i].r.bottom > ch) out[i].r.bottom = ch;
      i++;
    }
    int content = y + P(66) + P(18) + P(22) + P(24);  // the Rebuild row's description is one line
    if (content > ch) out.push_back({SCROLL_BAR_PANE, 0, {cw - P(20), 0, cw, ch}});
  }
};

enum { PRIMARY = 1, SETTINGS = 2, LOG = 4, FOLDER = 8, REMOVE = 16, ALL_BUTTONS = 31 };
enum Pane { PANE_BUTTONS, PANE_CANCEL, PANE_NOTHING, PANE_SETTINGS, PANE_SETTINGS_NO_REBUILD, PANE_EMPTY };

struct StateCase {
  const char* name;
  void (*setup)();
  int entries;  // library rows expected
  Pane pane;
  int buttons;  // for PANE_BUTTONS
};

const StateCase STATE_CASES[] = {
    {"empty library", [] {}, 0, PANE_EMPTY, 0},
    {"entries, none selected", [] { library_of_two(0, DISC_OK); g_state.selected = -1; }, 2, PANE_EMPTY, 0},
    {"unknown disc", [] { library_of_two(-1, DISC_UNKNOWN); }, 2, PANE_BUTTONS, SETTINGS | REMOVE},
    {"not a PS2 disc", [] { library_of_two(-1, DISC_NOT_PS2); }, 2, PANE_BUTTONS, SETTINGS | REMOVE},
    {"unsupported disc", [] { library_of_two(3, DISC_UNSUPPORTED); }, 2, PANE_BUTTONS, SETTINGS | REMOVE},
    {"other revision", [] { library_of_two(0, DISC_OTHER_REVISION); }, 2, PANE_BUTTONS, ALL_BUTTONS},
    {"ready to build", [] { library_of_two(1, DISC_OK); }, 2, PANE_BUTTONS, ALL_BUTTONS},
    {"building", [] {
       library_of_two(0, DISC_OK);
       g_job.running = 1;
       g_job.entry_index = 0;
       g_job.progress = 0.4;
     }, 2, PANE_CANCEL, 0},
    {"building, cancel asked", [] {
       library_of_two(0, DISC_OK);
       g_job.running = 1;
       g_job.cancel_requested = 1;
       g_job.entry_index = 0;
     }, 2, PANE_NOTHING, 0},
    {"another entry building", [] {
       library_of_two(0, DISC_OK);
       g_job.running = 1;
       g_job.entry_index = 1;
     }, 2, PANE_BUTTONS, SETTINGS | LOG | FOLDER | REMOVE},
    {"failed", [] {
       library_of_two(0, DISC_OK);
       g_job.failed = 1;
       g_job.entry_index = 0;
     }, 2, PANE_BUTTONS, ALL_BUTTONS},
    {"ready to play", [] { library_of_two(0, DISC_OK); use_built_folder(); }, 2, PANE_BUTTONS, ALL_BUTTONS},
    {"ready to play while another builds", [] {
       library_of_two(0, DISC_OK);
       use_built_folder();
       g_job.running = 1;
       g_job.entry_index = 1;
     }, 2, PANE_BUTTONS, ALL_BUTTONS},
    {"running", [] {
       library_of_two(0, DISC_OK);
       use_built_folder();
       g_state.running_entry = 0;
     }, 2, PANE_BUTTONS, SETTINGS | LOG | FOLDER},
    {"another game running", [] {
       library_of_two(0, DISC_OK);
       use_built_folder();
       g_state.running_entry = 1;
     }, 2, PANE_BUTTONS, SETTINGS | LOG | FOLDER | REMOVE},
    {"settings open", [] { library_of_two(0, DISC_OK); g_state.settings_open = true; }, 2, PANE_SETTINGS, 0},
    {"settings open, other revision", [] {
       library_of_two(1, DISC_OTHER_REVISION);
       g_state.settings_open = true;
     }, 2, PANE_SETTINGS, 0},
    {"settings open, nothing selected", [] { g_state.settings_open = true; }, 0, PANE_SETTINGS_NO_REBUILD, 0},
    {"settings open, unsupported disc", [] {
       library_of_two(3, DISC_UNSUPPORTED);
       g_state.settings_open = true;
     }, 2, PANE_SETTINGS_NO_REBUILD, 0},
    {"settings open, unknown disc", [] {
       library_of_two(-1, DISC_OTHER_REVISION);
       g_state.settings_open = true;
     }, 2, PANE_SETTINGS_NO_REBUILD, 0},
    {"settings open, build running", [] {
       library_of_two(0, DISC_OK);
       g_state.settings_open = true;
       g_job.running = 1;
       g_job.entry_index = 0;
     }, 2, PANE_SETTINGS_NO_REBUILD, 0},
    {"settings open, game running", [] {
       library_of_two(0, DISC_OK);
       use_built_folder();
       g_state.settings_open = true;
       g_state.running_entry = 0;
     }, 2, PANE_SETTINGS_NO_REBUILD, 0},
};

struct ScaleCase {
  float scale;
  int width, height;
};
const ScaleCase SCALES[] = {{1.0f, 1100, 860}, {1.5f, 1650, 1290}, {1.25f, 1375, 1075}, {1.0f, 900, 620}};

TEST(PaintRegions, EachStateRecordsItsRegionsInOrderAtEveryScale) {
  for (const ScaleCase& sc : SCALES) {
    for (const StateCase& c : STATE_CASES) {
      fresh_state(sc.scale);
      c.setup();
      Canvas canvas(sc.width, sc.height);
      canvas.paint();

      Layout lay{sc.scale, sc.width, sc.height};
      std::vector<Region> want;
      lay.rows(want, c.entries, 0);
      lay.sidebar(want);
      switch (c.pane) {
        case PANE_BUTTONS: lay.button_row(want, c.buttons); break;
        case PANE_CANCEL: lay.cancel(want); break;
        case PANE_NOTHING: break;
        case PANE_SETTINGS: lay.settings_panel(want, true); break;
        case PANE_SETTINGS_NO_REBUILD: lay.settings_panel(want, false); break;
        case PANE_EMPTY: lay.empty_state(want); break;
      }
      std::vector<Region> got = recorded();
      EXPECT_TRUE(got == want) << c.name << " at scale " << sc.scale << " (" << sc.width << " x " << sc.height
                               << ")\nwant:\n"
                               << describe(want) << "got:\n"
                               << describe(got);
    }
  }
}

// Literal rectangles at scale 1.0 in a 1100 x 860 client, so that a mistake
// shared by the layout rules above and the painter still shows.
TEST(PaintRegions, LiteralRectanglesAtScaleOne) {
  struct Literal {
    const char* name;
    void (*setup)();
    std::vector<Region> main_pane;
  };
  const Literal cases[] = {
      {"empty", [] {}, {{CMD_ADD_DISC, 1, {518, 530, 694, 570}}, {CMD_SCAN_FOLDER, 1, {706, 530, 882, 570}}}},
      {"ready to build", [] { library_of_two(0, DISC_OK); },
       {{CMD_PRIMARY_ACTION, 0, {324, 198, 494, 246}},
        {CMD_OPEN_SETTINGS, 0, {506, 202, 634, 242}},
        {CMD_OPEN_LOG, 0, {646, 202, 774, 242}},
        {CMD_OPEN_GAME_FOLDER, 0, {786, 202, 936, 242}},
        {CMD_REMOVE_ENTRY, 0, {956, 202, 1076, 242}}}},
      {"building", [] {
         library_of_two(0, DISC_OK);
         g_job.running = 1;
         g_job.entry_index = 0;
       },
       {{CMD_CANCEL_BUILD, 0, {966, 202, 1076, 242}}}},
      {"settings", [] { g_state.settings_open = true; },
       {{CMD_CLOSE_SETTINGS, 0, {986, 28, 1076, 60}},
        {CMD_SET_RESOLUTION, 0, {879, 117, 974, 143}},
        {CMD_SET_RESOLUTION, 1, {977, 117, 1072, 143}},
        {CMD_TOGGLE_SETTING, 0, {1028, 180, 1076, 206}},
        {CMD_TOGGLE_SETTING, 1, {1028, 246, 1076, 272}},
        {CMD_TOGGLE_SETTING, 2, {1028, 312, 1076, 338}},
        {CMD_TOGGLE_SETTING, 3, {1028, 378, 1076, 404}},
        {CMD_TOGGLE_SETTING, 4, {1028, 444, 1076, 470}},
        {CMD_CAPTURE_LESS, 0, {879, 513, 911, 539}},
        {CMD_CAPTURE_MORE, 0, {1041, 513, 1073, 539}},
        {CMD_LEVEL_PREV, 0, {879, 579, 911, 605}},
        {CMD_LEVEL_NEXT, 0, {1041, 579, 1073, 605}}}},
  };
  for (const Literal& c : cases) {
    fresh_state(1.0f);
    c.setup();
    Canvas canvas(1100, 860);
    canvas.paint();
    std::vector<Region> want;
    for (int i = 0; i < g_state.entry_count; i++) want.push_back({CMD_SELECT_ENTRY, i, {12, 96 + 74 * i, 288, 164 + 74 * i}});
    want.push_back({CMD_ADD_DISC, 0, {16, 760, 284, 800}});
    want.push_back({CMD_SCAN_FOLDER, 0, {16, 808, 284, 844}});
    want.insert(want.end(), c.main_pane.begin(), c.main_pane.end());
    std::vector<Region> got = recorded();
    EXPECT_TRUE(got == want) << c.name << "\nwant:\n" << describe(want) << "got:\n" << describe(got);
  }
}

// A library row is clickable only where it can be seen: its region is the
// part of the row inside the list's clip area (from H + 30 down to the
// footer's line at bottom - 116), and a row wholly hidden under the header or
// the footer records none. (Rows hidden under the header and the footer used
// to keep their whole regions, so the gap between the sidebar buttons, the
// margins around them and the "LIBRARY" caption selected a row nobody saw.)
TEST(PaintRegions, ScrolledListRowsAreClickableOnlyWhereVisible) {
  struct Case {
    float scale;
    int scroll;
    int first, last;  // indexes of the first and last row recorded
  };
  // Scale 1.0, 1100 x 860, 64 rows: row i spans 96 + 74 i - scroll .. + 68;
  // the list shows y = 94 .. 744.
  const Case cases[] = {
      {1.0f, 0, 0, 8},      // row 8 ends at 756, cut at 744; row 9 starts at 762
      {1.0f, 50, 0, 9},     // row 0 shows 94 .. 114; row 10 starts at 786
      {1.0f, 100, 1, 10},   // row 0 ends at 64, under the header; row 10 shows 736 .. 744
      {1.0f, 101, 1, 10},
      {1.0f, 4000, 54, 62},  // row 53 ends at 86; row 63 starts at 758
      {1.5f, 0, 0, 8},
      {1.5f, 300, 2, 11},   // row 2 shows 141 .. 168 of 66 .. 168
  };
  for (const Case& c : cases) {
    fresh_state(c.scale);
    Layout lay{c.scale, (int)(1100 * c.scale), (int)(860 * c.scale)};
    for (int i = 0; i < LIBRARY_CAPACITY; i++) set_entry(i, L"C:\\discs\\x.iso", "", "", -1, DISC_NOT_FOUND);
    g_state.entry_count = LIBRARY_CAPACITY;
    g_state.selected = 0;
    g_ui.scroll_offset = c.scroll;
    Canvas canvas(lay.cw, lay.ch);
    canvas.paint();
    const int clip_top = lay.H() + lay.P(30), clip_bottom = lay.ch - lay.P(116);
    std::vector<int> rows;
    for (int i = 0; i < g_ui.hit_region_count; i++) {
      const HitRegion& g = g_ui.hit_regions[i];
      if (g.id != CMD_SELECT_ENTRY) continue;
      rows.push_back(g.arg);
      int top = lay.H() + lay.P(32) - c.scroll + g.arg * (lay.P(68) + lay.P(6));
      RECT want = {lay.P(12), std::max(top, clip_top), lay.W() - lay.P(12), std::min(top + lay.P(68), clip_bottom)};
      EXPECT_TRUE(EqualRect(&g.rect, &want)) << "scale " << c.scale << " scroll " << c.scroll << " row " << g.arg
                                             << ": " << g.rect.top << ".." << g.rect.bottom;
    }
    ASSERT_FALSE(rows.empty()) << "scroll " << c.scroll;
    EXPECT_EQ(rows.front(), c.first) << "scale " << c.scale << " scroll " << c.scroll;
    EXPECT_EQ(rows.back(), c.last) << "scale " << c.scale << " scroll " << c.scroll;
    EXPECT_EQ((int)rows.size(), c.last - c.first + 1) << "scroll " << c.scroll;

    // Outside the visible list no point selects a row: the header with the
    // "LIBRARY" caption, the footer's margins and the gap between its buttons.
    const POINT empty[] = {
        {lay.P(100), lay.H() + lay.P(16)},         // the caption
        {lay.P(100), lay.H() + lay.P(29)},         // just above the list
        {lay.P(100), clip_bottom},                 // the footer's line
        {lay.P(100), lay.ch - lay.P(108)},         // above "Add disc image"
        {lay.P(8), lay.ch - lay.P(80)},            // left of it
        {lay.W() - lay.P(8), lay.ch - lay.P(80)},  // right of it
        {lay.P(100), lay.ch - lay.P(56)},          // between the two buttons
        {lay.P(100), lay.ch - lay.P(8)},           // below "Scan a folder"
    };
    for (const POINT& p : empty) {
      const HitRegion* at = hit_test(p.x, p.y);
      EXPECT_TRUE(at == nullptr || at->id != CMD_SELECT_ENTRY)
          << "scale " << c.scale << " scroll " << c.scroll << ": row " << at->arg << " at " << p.x << ", " << p.y;
    }
    // The sidebar buttons themselves still answer.
    const HitRegion* add = hit_test(lay.P(100), lay.ch - lay.P(80));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->id, CMD_ADD_DISC) << "scroll " << c.scroll;
  }
}

// ---- Pixels ------------------------------------------------------------------

TEST(PaintPixels, SidebarEdgeAndTiledBackdrop) {
  for (float scale : {1.0f, 1.5f}) {
    fresh_state(scale);
    Layout lay{scale, (int)(1100 * scale), (int)(860 * scale)};
    Canvas canvas(lay.cw, lay.ch);
    canvas.paint();
    EXPECT_EQ(canvas.pixel(lay.P(5), lay.P(400)), COLOR_SIDEBAR) << scale;
    EXPECT_EQ(canvas.pixel(lay.W() - 1, lay.P(400)), COLOR_BORDER) << scale;
    EXPECT_EQ(canvas.pixel(lay.W(), lay.P(400)), canvas.pixel(lay.W(), lay.P(400)));
    // The footer separator is one pixel tall at every scale.
    int sep = lay.ch - lay.P(116);
    EXPECT_EQ(canvas.pixel(lay.P(150), sep), COLOR_BORDER) << scale;
    EXPECT_EQ(canvas.pixel(lay.P(150), sep - 1), COLOR_SIDEBAR) << scale;
    EXPECT_EQ(canvas.pixel(lay.P(150), sep + 1), COLOR_SIDEBAR) << scale;

    // The backdrop is the star tile at px(171), anchored at the client origin.
    int t = lay.P(171);
    HBITMAP tile = get_scaled_image(104, t, t, false, 0);
    ASSERT_NE(tile, nullptr) << "the star tile did not decode";
    DIBSECTION dib = {};
    ASSERT_EQ(GetObjectW(tile, sizeof dib, &dib), (int)sizeof dib);
    const uint8_t* bits = (const uint8_t*)dib.dsBm.bmBits;
    int bright = 0;
    for (int y = lay.ch - 60; y < lay.ch; y++)
      for (int x = lay.cw - 300; x < lay.cw; x++) {
        const uint8_t* p = bits + ((y % t) * t + (x % t)) * 4;
        ASSERT_EQ(canvas.pixel(x, y), RGB(p[2], p[1], p[0])) << "at " << x << ", " << y << " scale " << scale;
        if (p[2] > 40) bright++;
      }
    EXPECT_GT(bright, 0) << "no star in the sampled area: the comparison proves little";
  }
}

TEST(PaintPixels, LibraryRowsBySelectionAndHover) {
  for (float scale : {1.0f, 1.5f}) {
    Layout lay{scale, (int)(1100 * scale), (int)(860 * scale)};
    struct Case {
      int hovered;     // row under the pointer, -1 none
      COLORREF row0;   // fill of the selected row
      COLORREF bar0;   // accent bar of the selected row
      COLORREF row1;   // fill of the other row
      COLORREF bar1;   // where the other row's bar would be
    };
    const Case cases[] = {
        {-1, COLOR_SURFACE_RAISED, COLOR_ACCENT, COLOR_SIDEBAR, COLOR_SIDEBAR},
        {1, COLOR_SURFACE_RAISED, COLOR_ACCENT, COLOR_SURFACE, COLOR_SURFACE},
        {0, COLOR_SURFACE_RAISED, COLOR_ACCENT, COLOR_SIDEBAR, COLOR_SIDEBAR},  // hovering the selection changes nothing
    };
    for (const Case& c : cases) {
      fresh_state(scale);
      library_of_two(0, DISC_OK);
      if (c.hovered >= 0) {
        g_ui.hovered_id = CMD_SELECT_ENTRY;
        g_ui.hovered_arg = c.hovered;
      }
      Canvas canvas(lay.cw, lay.ch);
      canvas.paint();
      int left = lay.P(12), y0 = lay.H() + lay.P(32), y1 = y0 + lay.P(68) + lay.P(6);
      int bar_x = left + 1, mid = lay.P(34);
      EXPECT_EQ(canvas.pixel(bar_x, y0 + mid), c.bar0) << scale << " hovered " << c.hovered;
      EXPECT_EQ(canvas.pixel(left + lay.P(5), y0 + mid), c.row0) << scale << " hovered " << c.hovered;
      EXPECT_EQ(canvas.pixel(bar_x, y1 + mid), c.bar1) << scale << " hovered " << c.hovered;
      EXPECT_EQ(canvas.pixel(left + lay.P(5), y1 + mid), c.row1) << scale << " hovered " << c.hovered;
      // The bar is px(3) wide and ends px(14) from the row's ends.
      EXPECT_EQ(canvas.pixel(left + lay.P(3), y0 + mid), c.row0) << scale;
      EXPECT_EQ(canvas.pixel(bar_x, y0 + lay.P(14) - 1), c.row0) << scale;
      EXPECT_EQ(canvas.pixel(bar_x, y0 + lay.P(14)), COLOR_ACCENT) << scale;
    }
  }
}

TEST(PaintPixels, PrimaryButtonFillByState) {
  struct Case {
    const char* name;
    void (*setup)();
    COLORREF fill;
  };
  const Case cases[] = {
      {"unknown disc: disabled", [] { library_of_two(-1, DISC_UNKNOWN); }, COLOR_ACCENT_DISABLED},
      {"ready to build", [] { library_of_two(0, DISC_OK); }, COLOR_ACCENT},
      {"hovered", [] {
         library_of_two(0, DISC_OK);
         g_ui.hovered_id = CMD_PRIMARY_ACTION;
       }, COLOR_ACCENT_HOVER},
      {"disabled and under the pointer: no hover look", [] {
         library_of_two(0, DISC_OK);
         use_built_folder();
         g_state.running_entry = 1;
         g_ui.hovered_id = CMD_PRIMARY_ACTION;
       }, COLOR_ACCENT_DISABLED},
  };
  for (float scale : {1.0f, 1.5f}) {
    Layout lay{scale, (int)(1100 * scale), (int)(860 * scale)};
    for (const Case& c : cases) {
      fresh_state(scale);
      c.setup();
      Canvas canvas(lay.cw, lay.ch);
      canvas.paint();
      EXPECT_EQ(canvas.pixel(lay.L() + lay.P(4), lay.action_y() + lay.P(24)), c.fill) << c.name << " " << scale;
      EXPECT_EQ(canvas.pixel(lay.L() + lay.P(165), lay.action_y() + lay.P(24)), c.fill) << c.name << " " << scale;
    }
  }
}

TEST(PaintPixels, SecondaryButtonFillAndOutlineByState) {
  struct Case {
    const char* name;
    int32_t hovered_id;
    DiscStatus status;
    int32_t row;
    int x_offset;  // the button's left edge from L
    COLORREF fill, outline;
  };
  const Case cases[] = {
      // Resting outlines are the control outline colour, which stands 3:1 off the backdrop.
      {"Settings", 0, DISC_OK, 0, 182, COLOR_SURFACE, COLOR_OUTLINE},
      {"Settings hovered", CMD_OPEN_SETTINGS, DISC_OK, 0, 182, COLOR_SURFACE_RAISED, COLOR_BORDER_HOVER},
      {"Open log disabled", 0, DISC_UNKNOWN, -1, 322, COLOR_SURFACE, COLOR_OUTLINE},
      {"Open log disabled under the pointer", CMD_OPEN_LOG, DISC_UNKNOWN, -1, 322, COLOR_SURFACE, COLOR_OUTLINE},
  };
  for (float scale : {1.0f, 1.5f}) {
    Layout lay{scale, (int)(1100 * scale), (int)(860 * scale)};
    for (const Case& c : cases) {
      fresh_state(scale);
      library_of_two(c.row, c.status);
      g_ui.hovered_id = c.hovered_id;
      Canvas canvas(lay.cw, lay.ch);
      canvas.paint();
      int left = lay.L() + (c.x_offset == 182 ? lay.P(182) : lay.P(182) + lay.P(140));
      int mid = lay.action_y() + lay.P(24);
      EXPECT_EQ(canvas.pixel(left + lay.P(4), mid), c.fill) << c.name << " " << scale;
      EXPECT_EQ(canvas.pixel(left, mid), c.outline) << c.name << " " << scale;
    }
  }
}

TEST(PaintPixels, PressedButtonMovesDownByOnePixelWithItsRegion) {
  for (float scale : {1.0f, 1.5f}) {
    Layout lay{scale, (int)(1100 * scale), (int)(860 * scale)};
    int x = lay.L() + lay.P(20), y = lay.action_y();
    fresh_state(scale);
    library_of_two(0, DISC_OK);
    g_ui.hovered_id = CMD_PRIMARY_ACTION;
    g_ui.pressed_id = CMD_PRIMARY_ACTION;
    Canvas pressed(lay.cw, lay.ch);
    pressed.paint();
    int shift = lay.P(1);
    EXPECT_NE(pressed.pixel(x, y + shift - 1), COLOR_ACCENT_HOVER) << scale;
    EXPECT_EQ(pressed.pixel(x, y + shift), COLOR_ACCENT_HOVER) << scale;
    EXPECT_EQ(pressed.pixel(x, y + lay.P(48) + shift - 1), COLOR_ACCENT_HOVER) << scale;
    const HitRegion* r = nullptr;
    for (int i = 0; i < g_ui.hit_region_count; i++)
      if (g_ui.hit_regions[i].id == CMD_PRIMARY_ACTION) r = &g_ui.hit_regions[i];
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->rect.top, y + shift);
    EXPECT_EQ(r->rect.bottom, y + lay.P(48) + shift);

    // Pressed but no longer hovered: drawn in place again.
    g_ui.hovered_id = 0;
    Canvas left(lay.cw, lay.ch);
    left.paint();
    EXPECT_EQ(left.pixel(x, y), COLOR_ACCENT) << scale;
    EXPECT_NE(left.pixel(x, y + lay.P(48)), COLOR_ACCENT) << scale;
  }
}

TEST(PaintPixels, ProgressFillOnlyBeyondItsRoundedEnds) {
  struct Case {
    double progress;
    bool start_filled;  // just inside the track's left end
    bool end_filled;    // just inside the track's right end
  };
  const Case cases[] = {{0.004, false, false}, {0.0, false, false}, {-0.5, false, false},
                        {0.5, true, false},    {1.0, true, true},   {1.2, true, true},
                        {1e12, true, true},    {std::nan(""), false, false},
                        // Track 630 wide at 1.0 (945 at 1.5): a fill of 7 (11) pixels is
                        // not drawn, one of 10 (15) is; px(8) is 8 (12).
                        {7.5 / 630, false, false}, {10.0 / 630, true, false}};
  for (float scale : {1.0f, 1.5f}) {
    Layout lay{scale, (int)(1100 * scale), (int)(860 * scale)};
    int y = lay.action_y() + lay.P(34);
    int track_right = lay.R() - lay.P(110) - lay.P(12);
    for (const Case& c : cases) {
      fresh_state(scale);
      library_of_two(0, DISC_OK);
      g_job.running = 1;
      g_job.entry_index = 0;
      g_job.progress = c.progress;
      Canvas canvas(lay.cw, lay.ch);
      canvas.paint();
      EXPECT_EQ(canvas.pixel(lay.L() + lay.P(2), y), c.start_filled ? COLOR_ACCENT : COLOR_SURFACE)
          << c.progress << " at " << scale;
      EXPECT_EQ(canvas.pixel(track_right - lay.P(3), y), c.end_filled ? COLOR_ACCENT : COLOR_SURFACE)
          << c.progress << " at " << scale;
    }
  }
}

TEST(PaintPixels, ToggleTrackColoursFollowTheSwitch) {
  struct Case {
    int index;
    int32_t LauncherState::*field;
    int32_t value;
    bool on;
  };
  const Case cases[] = {
      {0, &LauncherState::vsync, 0, false},        {0, &LauncherState::vsync, 1, true},
      {1, &LauncherState::no_gs_thread, 1, false}, {1, &LauncherState::no_gs_thread, 0, true},
      {2, &LauncherState::no_gl_thread, 1, false}, {2, &LauncherState::no_gl_thread, 0, true},
      {3, &LauncherState::fps_log, 7, true},       {4, &LauncherState::minimize, 0, false},
  };
  for (float scale : {1.0f, 1.5f}) {
    Layout lay{scale, (int)(1100 * scale), (int)(860 * scale)};
    for (const Case& c : cases) {
      fresh_state(scale);
      g_state.settings_open = true;
      g_state.*c.field = c.value;
      Canvas canvas(lay.cw, lay.ch);
      canvas.paint();
      int y = lay.P(24) + lay.P(52) + lay.P(34) + lay.P(66) * (1 + c.index);
      int track_left = lay.R() - lay.P(44), track_top = y + lay.P(4);
      int mid_y = track_top + lay.P(11);
      // Between the two knob positions the track shows in either state.
      // The off track is the control outline colour (3:1 off the backdrop).
      EXPECT_EQ(canvas.pixel(track_left + lay.P(20), mid_y), c.on ? COLOR_ACCENT : COLOR_OUTLINE)
          << "row " << c.index << " value " << c.value << " scale " << scale;
      // The knob: dark on the right when on, light on the left when off.
      int knob_on = track_left + lay.P(40) - lay.P(19) + lay.P(8);
      int knob_off = track_left + lay.P(3) + lay.P(8);
      EXPECT_EQ(canvas.pixel(c.on ? knob_on : knob_off, mid_y), c.on ? COLOR_BACKDROP : COLOR_TEXT)
          << "row " << c.index << " scale " << scale;
      EXPECT_EQ(canvas.pixel(c.on ? knob_off : knob_on, mid_y), c.on ? COLOR_ACCENT : COLOR_OUTLINE)
          << "row " << c.index << " scale " << scale;
    }
  }
}

TEST(PaintPixels, ResolutionSegmentsSelectedAndHovered) {
  Layout lay{1.0f, 1100, 860};
  struct Case {
    int32_t upscaled;
    int hovered;  // segment under the pointer, -1 none
    COLORREF seg0, seg1;
  };
  const Case cases[] = {
      {0, -1, COLOR_ACCENT, COLOR_SURFACE},
      {5, -1, COLOR_SURFACE, COLOR_ACCENT},  // any non-zero value is "Upscaled"
      {0, 1, COLOR_ACCENT, COLOR_SURFACE_RAISED},
      {0, 0, COLOR_ACCENT, COLOR_SURFACE},  // hovering the selected segment changes nothing
  };
  for (const Case& c : cases) {
    fresh_state(1.0f);
    g_state.settings_open = true;
    g_state.upscaled = c.upscaled;
    if (c.hovered >= 0) {
      g_ui.hovered_id = CMD_SET_RESOLUTION;
      g_ui.hovered_arg = c.hovered;
    }
    Canvas canvas(lay.cw, lay.ch);
    canvas.paint();
    int y = 110 + 4 + 3 + 2;  // just inside the segments' top edge
    EXPECT_EQ(canvas.pixel(879 + 8, y), c.seg0) << c.upscaled << " hovered " << c.hovered;
    EXPECT_EQ(canvas.pixel(977 + 8, y), c.seg1) << c.upscaled << " hovered " << c.hovered;
  }
}

// ---- Texts -------------------------------------------------------------------

struct TextCase {
  const char* name;
  void (*setup)();
  std::vector<DrawnText> present;  // each drawn at least once, in its colour
  std::vector<std::wstring> absent;
};

// A text that does not fit ends in an ellipsis ("..." under Wine): the start
// that was drawn counts.
bool same_or_shortened(const std::wstring& drawn, const std::wstring& want) {
  if (drawn == want) return true;
  size_t mark = drawn.size() >= 2 && drawn.back() == L'\u2026' ? 1
                : drawn.size() >= 4 && drawn.compare(drawn.size() - 3, 3, L"...") == 0 ? 3
                                                                                        : 0;
  if (mark == 0) return false;
  size_t kept = drawn.size() - mark;
  return kept < want.size() && want.compare(0, kept, drawn, 0, kept) == 0;
}

// A message too long for one line is drawn as up to three pieces, one under
// the other at the same left edge, broken at a space (dropped) or after a
// backslash; true when the pieces from drawn[i] on make up want.
bool drawn_in_lines(const std::vector<DrawnText>& drawn, size_t i, const DrawnText& want) {
  std::wstring joined;
  for (size_t k = i; k < drawn.size() && k < i + 3; k++) {
    const DrawnText& d = drawn[k];
    if (d.colour != want.colour || d.x != drawn[i].x || (k > i && d.y <= drawn[k - 1].y)) return false;
    if (k > i && joined.back() != L'\\') joined += L" ";
    joined += d.text;
    if (k > i && same_or_shortened(joined, want.text)) return true;
  }
  return false;
}

void expect_texts(const TextCase& c, int width = 1100, int height = 860) {
  fresh_state(1.0f);
  c.setup();
  std::vector<DrawnText> drawn = record_texts(width, height);
  for (const DrawnText& want : c.present) {
    bool found = false;
    for (size_t i = 0; i < drawn.size(); i++) {
      const DrawnText& d = drawn[i];
      found = found || (same_or_shortened(d.text, want.text) && d.colour == want.colour) ||
              drawn_in_lines(drawn, i, want);
    }
    std::string list;
    if (!found)
      for (const DrawnText& d : drawn) list += "  [" + narrow(d.text) + "] " + std::to_string(d.colour) + "\n";
    EXPECT_TRUE(found) << c.name << ": no [" << narrow(want.text) << "] in colour " << want.colour << "; drawn:\n" << list;
  }
  for (const std::wstring& text : c.absent) {
    bool found = false;
    for (const DrawnText& d : drawn) found = found || d.text == text;
    EXPECT_FALSE(found) << c.name << ": [" << narrow(text) << "] should not be drawn";
  }
}

TEST(PaintTexts, SidebarEmptyStateAndLabels) {
  const TextCase cases[] = {
      {"empty library", [] {},
       {{L"LIBRARY", COLOR_TEXT_MUTED},
        {L"No games yet", COLOR_TEXT_MUTED},
        {L"Your library is empty", COLOR_TEXT},
        {L"Add your own copy of the game as a disc image (.iso), or drop one on this window.", COLOR_TEXT_SECONDARY},
        {L"Add disc image", COLOR_TEXT},
        {L"Add disc image", COLOR_BACKDROP},
        {L"Scan a folder", COLOR_TEXT}},
       {}},
      {"rows", [] { library_of_two(0, DISC_OK); },
       {{L"Tarsel & Quib", COLOR_TEXT},
        {L"PAL", COLOR_TEXT_SECONDARY},
        {L"Ready to build", COLOR_TEXT_SECONDARY},
        {L"other.iso", COLOR_TEXT},
        {L"Unknown PS2 disc", COLOR_TEXT_SECONDARY},
        {L"Ready to build", COLOR_TEXT},  // the selected view's status line
        {L"Build", COLOR_BACKDROP},
        {L"First time: downloads about 95 MB of tools and source, then builds the game from your disc "
         L"(10 to 30 minutes).",
         COLOR_TEXT_SECONDARY}},
       {L"No games yet", L"Your library is empty"}},
  };
  for (const TextCase& c : cases) expect_texts(c);
}

TEST(PaintTexts, SelectedViewByState) {
  const TextCase cases[] = {
      {"unknown disc", [] { library_of_two(-1, DISC_UNKNOWN); },
       {{L"first.iso", COLOR_TEXT}, {L"Play", COLOR_ACCENT_DISABLED_TEXT}, {L"Open log", COLOR_TEXT_MUTED},
        {L"Game folder", COLOR_TEXT_MUTED}, {L"Remove", COLOR_TEXT}},
       {L"First time: downloads about 95 MB of tools and source, then builds the game from your disc (10 to 30 minutes)."}},
      {"unsupported", [] { library_of_two(3, DISC_UNSUPPORTED); },
       {{L"Not supported yet", COLOR_TEXT},
        {L"This game is recognised, but its recompilation is not built yet.", COLOR_TEXT_SECONDARY},
        {L"Play", COLOR_ACCENT_DISABLED_TEXT}},
       {}},
      {"other revision", [] { library_of_two(0, DISC_OTHER_REVISION); },
       {{L"Different disc revision", COLOR_TEXT},
        {L"Build", COLOR_BACKDROP},
        // Buildable and not built: the first-time note comes before the revision warning.
        {L"First time: downloads about 95 MB of tools and source, then builds the game from your disc "
         L"(10 to 30 minutes).",
         COLOR_TEXT_SECONDARY}},
       {}},
      {"building", [] {
         library_of_two(0, DISC_OK);
         g_job.running = 1;
         g_job.entry_index = 0;
         g_job.progress = 0.004;
         copy_text(g_job.stage_text, STAGE_TEXT_UNITS, L"Compiling");
       },
       {{L"Building\u2026", COLOR_TEXT},
        {L"Compiling", COLOR_TEXT},
        {L"0%", COLOR_TEXT_SECONDARY},
        {L"Cancel", COLOR_TEXT},
        {L"Building from your disc. You can keep using your PC; closing this window stops the build.",
         COLOR_TEXT_SECONDARY}},
       {L"Settings", L"Remove"}},
      {"building past the end", [] {
         library_of_two(0, DISC_OK);
         g_job.running = 1;
         g_job.entry_index = 0;
         g_job.progress = 1.2;
         g_job.cancel_requested = 1;
       },
       {{L"120%", COLOR_TEXT_SECONDARY}, {L"Stopping\u2026", COLOR_TEXT_MUTED}},
       {L"Cancel"}},
      {"a counter far past its total", [] {
         library_of_two(0, DISC_OK);
         g_job.running = 1;
         g_job.entry_index = 0;
         g_job.progress = 2.1e9;
       },
       {{L"2147483647%", COLOR_TEXT_SECONDARY}},
       {}},
      {"a fraction that is no number", [] {
         library_of_two(0, DISC_OK);
         g_job.running = 1;
         g_job.entry_index = 0;
         g_job.progress = std::nan("");
       },
       {{L"0%", COLOR_TEXT_SECONDARY}},
       {}},
      {"failed", [] {
         library_of_two(0, DISC_OK);
         g_job.failed = 1;
         g_job.entry_index = 0;
         copy_text(g_job.error_text, ERROR_TEXT_UNITS, L"Download failed.");
         // The window empties the status line when a build ends with an
         // error; a text written there later is newer and shows instead.
       },
       {{L"Download failed.", COLOR_ERROR}},
       {}},
      {"failed build of another entry", [] {
         library_of_two(0, DISC_OK);
         g_job.failed = 1;
         g_job.entry_index = 1;
         copy_text(g_job.error_text, ERROR_TEXT_UNITS, L"Download failed.");
         copy_text(g_state.status_text, STATUS_TEXT_UNITS, L"Could not open the log.");
         g_state.status_is_error = true;
       },
       {{L"Could not open the log.", COLOR_ERROR}},
       {L"Download failed."}},
      {"ready to play", [] { library_of_two(0, DISC_OK); use_built_folder(); },
       {{L"Ready to play", COLOR_TEXT}, {L"Play", COLOR_BACKDROP}},
       {L"Build"}},
      {"running", [] {
         library_of_two(0, DISC_OK);
         use_built_folder();
         g_state.running_entry = 0;
       },
       {{L"Running\u2026", COLOR_ACCENT_DISABLED_TEXT}, {L"Remove", COLOR_TEXT_MUTED}},
       {}},
  };
  for (const TextCase& c : cases) expect_texts(c);
}

TEST(PaintTexts, DiscCardAndLegend) {
  const TextCase cases[] = {
      {"no serial", [] {
         library_of_two(-1, DISC_NOT_PS2);
         g_state.entries[0].serial[0] = 0;
         g_state.entries[0].md5[0] = 0;
       },
       {{L"Disc", COLOR_TEXT}, {L"none", COLOR_TEXT}, {L"\u2013", COLOR_TEXT_MUTED}},
       {L"Controller"}},
      {"unsupported: MD5 without a note, no game files, no legend", [] { library_of_two(3, DISC_UNSUPPORTED); },
       {{L"SXPE_100.01", COLOR_TEXT}, {L"13f8f1eea32364baadfdd38715f5be80  ", COLOR_TEXT}},
       {L"Controller", L"Not built yet"}},
      {"other revision", [] { library_of_two(0, DISC_OTHER_REVISION); },
       {{L"13f8f1eea32364baadfdd38715f5be80  (different revision)", COLOR_WARNING},
        // Which revision the launcher supports, beside what was found.
        {L"Supported", COLOR_TEXT_SECONDARY},
        {L"PAL: boot file SXPE_100.01, MD5 13f8f1eea32364baadfdd38715f5be80", COLOR_TEXT_SECONDARY},
        {L"Not built yet", COLOR_TEXT_SECONDARY},
        {L"Controller", COLOR_TEXT},
        {L"Xbox, DualShock 4 and DualSense, over USB or Bluetooth", COLOR_TEXT_SECONDARY},
        {L"Cross", COLOR_TEXT_SECONDARY},
        {L"\u2192", COLOR_TEXT_MUTED},
        {L"A", COLOR_TEXT},
        {L"Select", COLOR_TEXT_SECONDARY},
        {L"View", COLOR_TEXT}},
       {}},
      {"other revision without its boot file", [] {
         library_of_two(1, DISC_OTHER_REVISION);
         g_state.entries[0].md5[0] = 0;
       },
       {{L"\u2013", COLOR_TEXT_MUTED},
        {L"NTSC-U: boot file SXUS_100.02, MD5 55ca922993aff426916b4722f34fdc96", COLOR_TEXT_SECONDARY},
        {L"Controller", COLOR_TEXT}},
       {}},
      {"ready to build", [] { library_of_two(0, DISC_OK); },
       {{L"13f8f1eea32364baadfdd38715f5be80  (matches)", COLOR_TEXT}, {L"Boot executable", COLOR_TEXT_SECONDARY}},
       {L"Supported"}},
  };
  for (const TextCase& c : cases) expect_texts(c);

  // Once built, the game files row names the game's folder.
  fresh_state(1.0f);
  library_of_two(0, DISC_OK);
  use_built_folder();
  std::wstring folder = std::wstring(g_state.launcher_dir) + L"\\games\\mox1\\build\\windows";
  TextCase built = {"built", [] {
                      library_of_two(0, DISC_OK);
                      use_built_folder();
                    },
                    {{folder, COLOR_TEXT}, {L"Controller", COLOR_TEXT}},
                    {L"Not built yet"}};
  expect_texts(built);

  // A long image path keeps its start and its file name and loses its middle.
  fresh_state(1.0f);
  library_of_two(0, DISC_OK);
  std::wstring long_path = L"C:\\Users\\someone";
  for (int i = 0; i < 7; i++) long_path += L"\\a rather long folder name";  // 224 characters
  long_path += L"\\Tarsel and Quib (PAL).iso";
  copy_text(g_state.entries[0].path, PATH_UNITS, long_path.c_str());
  bool shortened = false;
  for (const DrawnText& d : record_texts(1100, 860))
    if (d.colour == COLOR_TEXT && d.text.size() < long_path.size() && d.text.rfind(L"C:\\", 0) == 0 &&
        d.text.find(L"...") != std::wstring::npos &&
        d.text.size() > 26 && d.text.compare(d.text.size() - 26, 26, L"\\Tarsel and Quib (PAL).iso") == 0)
      shortened = true;
  std::string seen;
  for (const DrawnText& d : record_texts(1100, 860))
    if (d.text.find(L"Users") != std::wstring::npos) seen += narrow(d.text) + "\n";
  EXPECT_TRUE(shortened) << "no shortened image path among the texts:\n" << seen;
}

TEST(PaintTexts, ControllerCardOnlyWhenItFitsWhole) {
  // At scale 1.0 the controller card ends at 24 + 150 + 24 + 60 + 36 + 190 +
  // 12 + 232 = 728; it is drawn only while 728 < bottom - 24.
  struct Case {
    int height;
    bool drawn;
  };
  for (Case c : {Case{753, true}, Case{752, false}, Case{860, true}, Case{600, false}}) {
    // A built game: no note under its buttons, which could take more lines
    // than one and move the cards down.
    TextCase t = {"legend",
                  [] {
                    library_of_two(0, DISC_OK);
                    use_built_folder();
                  },
                  {},
                  {}};
    if (c.drawn)
      t.present = {{L"Controller", COLOR_TEXT}, {L"View", COLOR_TEXT}};
    else
      t.absent = {L"Controller", L"Cross", L"View"};
    SCOPED_TRACE(c.height);
    expect_texts(t, 1100, c.height);
  }
}

TEST(PaintTexts, SettingsValues) {
  const TextCase cases[] = {
      {"defaults", [] { g_state.settings_open = true; },
       {{L"Settings", COLOR_TEXT},
        {L"Done", COLOR_TEXT},
        {L"Apply the next time a game starts.", COLOR_TEXT_SECONDARY},
        {L"Upscaled", COLOR_BACKDROP},
        {L"Native", COLOR_TEXT},
        {L"3 seconds", COLOR_TEXT},
        {L"Off", COLOR_TEXT},
        {L"\u2212", COLOR_TEXT},
        {L"\u2039", COLOR_TEXT},
        {L"\u203A", COLOR_TEXT},
        {L"Rebuild", COLOR_TEXT_MUTED},
        // The version to quote in a bug report, quietly at the panel's foot.
        {L"Project Telvar " TELVAR_VERSION_TEXT, COLOR_TEXT_MUTED}},
       {}},
      {"one second and the first level", [] {
         g_state.settings_open = true;
         g_state.capture_seconds = 1;
         g_state.start_level = 0;
       },
       {{L"1 second", COLOR_TEXT}, {std::wstring(L"00 ") + CATALOG[0].level_names[0], COLOR_TEXT}},
       {L"1 seconds", L"Off"}},
      {"last level, rebuild enabled", [] {
         library_of_two(1, DISC_OK);
         g_state.settings_open = true;
         g_state.start_level = 18;
         g_state.upscaled = 0;
       },
       {{std::wstring(L"18 ") + CATALOG[0].level_names[18], COLOR_TEXT},
        {L"Rebuild", COLOR_TEXT},
        {L"Native", COLOR_BACKDROP},
        {L"Upscaled", COLOR_TEXT}},
       {}},
  };
  for (const TextCase& c : cases) expect_texts(c);
}

TEST(PaintTexts, ResolutionDescriptionNamesTheMonitor) {
  fresh_state(1.0f);
  g_state.settings_open = true;
  std::vector<DrawnText> drawn = record_texts(1100, 860);
  int h = GetSystemMetrics(SM_CYSCREEN);
  HMONITOR monitor = MonitorFromWindow(NULL, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(monitor, &info)) h = info.rcMonitor.bottom - info.rcMonitor.top;
  int factor = (h + 447) / 448;
  factor = factor < 2 ? 2 : factor > 4 ? 4 : factor;
  std::wstring tail = L"x for this " + std::to_wstring(h) + L"-line screen";
  std::wstring factor_text = L"at " + std::to_wstring(factor) + L"x";
  // The description wraps over two lines: look in everything drawn in its colour.
  std::wstring all;
  for (const DrawnText& d : drawn)
    if (d.colour == COLOR_TEXT_SECONDARY) all += d.text;  // wrapped lines keep their trailing space
  EXPECT_NE(all.find(L"Native draws at the PS2's own resolution"), std::wstring::npos) << narrow(all);
  EXPECT_NE(all.find(factor_text), std::wstring::npos) << narrow(all);
  EXPECT_NE(all.find(tail), std::wstring::npos) << narrow(all);
}

TEST(StatusLabel, TextAndColourByStatus) {
  struct Case {
    DiscStatus status;
    int32_t row;
    bool built, building;
    const wchar_t* text;
    COLORREF colour;
  };
  const Case cases[] = {
      {DISC_OK, 0, false, false, L"Ready to build", COLOR_ACCENT},
      {DISC_OK, 0, true, false, L"Ready to play", COLOR_SUCCESS},
      {DISC_OK, 1, false, false, L"Ready to build", COLOR_ACCENT},
      {DISC_OK, 0, false, true, L"Building\u2026", COLOR_ACCENT},
      {DISC_OK, 0, true, true, L"Building\u2026", COLOR_ACCENT},
      {DISC_OTHER_REVISION, 0, false, true, L"Different disc revision", COLOR_WARNING},  // keeps its own label
      {DISC_UNSUPPORTED, 3, false, false, L"Not supported yet", COLOR_TEXT_MUTED},
      {DISC_UNKNOWN, -1, false, false, L"Unknown PS2 disc", COLOR_TEXT_MUTED},
      {DISC_NOT_FOUND, -1, false, false, L"Disc image not found", COLOR_ERROR},
      {DISC_NOT_PS2, -1, false, false, L"Not a PS2 disc image", COLOR_ERROR},
      {(DiscStatus)42, -1, false, false, L"Not a PS2 disc image", COLOR_ERROR},
  };
  for (const Case& c : cases) {
    fresh_state(1.0f);
    library_of_two(c.row, c.status);
    if (c.built) use_built_folder();
    if (c.building) {
      g_job.running = 1;
      g_job.entry_index = 0;
    }
    StatusLabel label = status_label(0);
    EXPECT_STREQ(label.text, c.text) << c.status << " row " << c.row;
    EXPECT_EQ(label.colour, c.colour) << c.status << " row " << c.row;
  }
}

}  // namespace

namespace {

// Whether a game is built is asked afresh by every paint: a build that
// finishes between two paints shows in the second.
TEST(PaintTexts, BuiltGameShowsAtTheNextPaint) {
  fresh_state(1.0f);
  library_of_two(0, DISC_OK);
  auto has = [](const std::vector<DrawnText>& drawn, const wchar_t* text) {
    for (const DrawnText& d : drawn)
      if (d.text == text) return true;
    return false;
  };
  std::vector<DrawnText> before = record_texts(1100, 860);
  EXPECT_TRUE(has(before, L"Ready to build"));
  EXPECT_TRUE(has(before, L"Not built yet"));
  use_built_folder();
  std::vector<DrawnText> after = record_texts(1100, 860);
  EXPECT_TRUE(has(after, L"Ready to play"));
  EXPECT_FALSE(has(after, L"Ready to build"));
  EXPECT_FALSE(has(after, L"Not built yet"));
  // Outside a paint the label asks too.
  EXPECT_STREQ(status_label(0).text, L"Ready to play");
}

}  // namespace

namespace {

const DrawnText* find_text(const std::vector<DrawnText>& drawn, const wchar_t* text) {
  for (const DrawnText& d : drawn)
    if (d.text == text) return &d;
  return nullptr;
}

// The Disc card's rows and the legend's grid: pitch, columns and card edges.
TEST(PaintLayout, DetailRowsLegendGridAndCardEdges) {
  for (float scale : {1.0f, 1.5f}) {
    Layout lay{scale, (int)(1100 * scale), (int)(860 * scale)};
    fresh_state(scale);
    library_of_two(0, DISC_OK);
    use_built_folder();  // no note under the buttons: the cards are where one line puts them
    std::vector<DrawnText> drawn = record_texts(lay.cw, lay.ch);
    const wchar_t* rows[] = {L"Image", L"Boot executable", L"MD5", L"Game files"};
    for (int i = 0; i < 4; i++) {
      const DrawnText* t = find_text(drawn, rows[i]);
      ASSERT_NE(t, nullptr) << narrow(rows[i]);
      EXPECT_EQ(t->x, lay.L() + lay.P(20)) << narrow(rows[i]) << " " << scale;
      if (i > 0) {
        EXPECT_EQ(t->y - find_text(drawn, rows[i - 1])->y, lay.P(30)) << narrow(rows[i]) << " " << scale;
      }
    }
    // Legend: five rows a column, the right column half the inner width over.
    const DrawnText* cross = find_text(drawn, L"Cross");
    const DrawnText* start = find_text(drawn, L"Start");
    const DrawnText* l1 = find_text(drawn, L"L1");
    ASSERT_TRUE(cross && start && l1);
    EXPECT_EQ(start->y - cross->y, 4 * lay.P(30)) << scale;
    EXPECT_EQ(l1->y, cross->y) << scale;
    int inner = lay.R() - (lay.L() + lay.P(40));
    EXPECT_EQ(l1->x - cross->x, inner / 2) << scale;
    EXPECT_EQ(cross->x, lay.L() + lay.P(20) + lay.P(24) + lay.P(10)) << scale;

    // Card edges: the Disc card from ym + 36 for 190, the controller 12 below for 232.
    Canvas canvas(lay.cw, lay.ch);
    canvas.paint();
    int disc_top = lay.action_y() + lay.P(60) + lay.P(36);
    int disc_bottom = disc_top + lay.P(190);
    int legend_top = disc_bottom + lay.P(12), legend_bottom = legend_top + lay.P(232);
    int x = lay.L() + lay.P(300);
    EXPECT_EQ(canvas.pixel(x, disc_top), COLOR_BORDER) << scale;
    EXPECT_EQ(canvas.pixel(x, disc_top + 1), COLOR_SURFACE) << scale;
    EXPECT_EQ(canvas.pixel(x, disc_bottom - 1), COLOR_BORDER) << scale;
    EXPECT_NE(canvas.pixel(x, disc_bottom), COLOR_BORDER) << scale;
    EXPECT_NE(canvas.pixel(x, legend_top - 1), COLOR_BORDER) << scale;
    EXPECT_EQ(canvas.pixel(x, legend_top), COLOR_BORDER) << scale;
    EXPECT_EQ(canvas.pixel(x, legend_bottom - 1), COLOR_BORDER) << scale;
    EXPECT_NE(canvas.pixel(x, legend_bottom), COLOR_BORDER) << scale;
  }
}

// The message line's pieces, top to bottom: the texts drawn in its colour
// from its top down to the Disc card.
std::vector<DrawnText> message_pieces(const std::vector<DrawnText>& drawn, const Layout& lay, COLORREF colour) {
  std::vector<DrawnText> out;
  int ym = lay.action_y() + lay.P(60);
  for (const DrawnText& d : drawn)
    if (d.colour == colour && d.x == lay.L() && d.y >= ym - lay.P(4) && d.y < ym + lay.P(70)) out.push_back(d);
  return out;
}

int body_width(const std::wstring& text) {
  HDC dc = CreateCompatibleDC(NULL);
  HGDIOBJ old = SelectObject(dc, g_ui.fonts[FONT_BODY]);
  SIZE size = {0, 0};
  GetTextExtentPoint32W(dc, text.c_str(), (int)text.size(), &size);
  SelectObject(dc, old);
  DeleteDC(dc);
  return size.cx;
}

// The settings panel's status line holds the answer to a change that could
// not be saved, whose remedy comes last: it is drawn whole, in more lines.
TEST(PaintLayout, SettingsStatusTakesTheLinesItNeeds) {
  const std::wstring text =
      L"Could not save the settings. The launcher's folder is read-only: move the launcher to a folder you can "
      L"write to, such as C:\\Games\\Telvar or one in your Documents.";
  for (int width : {1100, 860}) {
    SCOPED_TRACE(width);
    fresh_state(1.0f);
    library_of_two(0, DISC_OK);
    g_state.settings_open = 1;
    copy_text(g_state.status_text, STATUS_TEXT_UNITS, text.c_str());
    g_state.status_is_error = true;
    std::vector<DrawnText> drawn = record_texts(width, 860);
    std::wstring joined;
    for (const DrawnText& d : drawn) {
      if (d.colour != COLOR_ERROR) continue;
      if (!joined.empty()) joined += L" ";
      joined += d.text;
    }
    EXPECT_EQ(joined, text);
    int content = g_ui.pane_content_height;
    copy_text(g_state.status_text, STATUS_TEXT_UNITS, L"Saved.");
    record_texts(width, 860);
    EXPECT_GT(content, g_ui.pane_content_height) << "the pane's content grows by the lines";
  }
}

// A message longer than the pane is wide takes the lines it needs (three at
// most) instead of losing its end, and what follows moves down by them; a
// message that fits stays one line where it always was.
TEST(PaintLayout, MessageLineTakesTheLinesItNeeds) {
  const std::wstring folder = L"Z:\\home\\someone\\a rather long folder of downloaded things\\Telvar";
  const std::wstring two = L"The launcher's folder cannot be written (Windows error 19). Move the launcher to a "
                           L"folder of your own, such as C:\\Games\\Telvar. The folder is " + folder + L".";
  std::wstring many;
  for (int i = 0; i < 12; i++) many += two + L" ";
  many.pop_back();
  struct Case {
    const wchar_t* name;
    std::wstring text;
    size_t lines_min, lines_max;
    bool whole;  // every word of the text is drawn
    bool job;    // shown as the failed job's text (which may be longer than a status)
  } cases[] = {
      {L"fits", L"Could not open the log.", 1, 1, true, false},
      {L"two or three lines", two, 2, 3, true, false},
      {L"more than three lines", many, 3, 3, false, true},
  };
  for (float scale : {1.0f, 1.5f}) {
    Layout lay{scale, (int)(1100 * scale), (int)(860 * scale)};
    int first_y = -1;
    for (const Case& c : cases) {
      SCOPED_TRACE(narrow(c.name) + " at " + std::to_string(scale));
      fresh_state(scale);
      library_of_two(0, DISC_OK);
      if (c.job) {
        g_job.failed = 1;
        g_job.entry_index = 0;
        copy_text(g_job.error_text, ERROR_TEXT_UNITS, c.text.c_str());
      } else {
        ASSERT_LT(c.text.size(), (size_t)STATUS_TEXT_UNITS);
        copy_text(g_state.status_text, STATUS_TEXT_UNITS, c.text.c_str());
        g_state.status_is_error = true;
      }
      std::vector<DrawnText> pieces = message_pieces(record_texts(lay.cw, lay.ch), lay, COLOR_ERROR);
      ASSERT_GE(pieces.size(), c.lines_min);
      ASSERT_LE(pieces.size(), c.lines_max);
      if (first_y < 0) first_y = pieces[0].y;
      EXPECT_EQ(pieces[0].y, first_y) << "the first line stays where the one line was";
      std::wstring joined;
      for (size_t i = 0; i < pieces.size(); i++) {
        EXPECT_LE(body_width(pieces[i].text), lay.R() - lay.L()) << narrow(pieces[i].text);
        if (i > 0) {
          EXPECT_EQ(pieces[i].y - pieces[i - 1].y, lay.P(20));
        }
        if (i > 0 && joined.back() != L'\\') joined += L" ";
        joined += pieces[i].text;
      }
      if (c.whole) {
        EXPECT_EQ(joined, c.text);
      } else {
        const std::wstring& last = pieces.back().text;
        bool ellipsis = (!last.empty() && last.back() == L'\u2026') ||
                        (last.size() > 3 && last.compare(last.size() - 3, 3, L"...") == 0);
        EXPECT_TRUE(ellipsis) << "the last line ends in an ellipsis: " << narrow(last);
        EXPECT_EQ(c.text.compare(0, pieces[0].text.size(), pieces[0].text), 0);
      }

      // The Disc card starts below the last line, by the lines added.
      Canvas canvas(lay.cw, lay.ch);
      canvas.paint();
      int disc_top = lay.action_y() + lay.P(60) + lay.P(36) + (int)(pieces.size() - 1) * lay.P(20);
      int x = lay.L() + lay.P(300);
      EXPECT_EQ(canvas.pixel(x, disc_top), COLOR_BORDER);
      EXPECT_EQ(canvas.pixel(x, disc_top + 1), COLOR_SURFACE);
      if (pieces.size() > 1) {
        EXPECT_NE(canvas.pixel(x, disc_top - lay.P(20)), COLOR_BORDER);
      }
    }
  }
}

}  // namespace

namespace {

TEST(PaintPixels, StepperBoxesAndButtonHover) {
  struct Case {
    int32_t start_level;
    int32_t hovered_id;
    COLORREF level_outline, level_fill;
    COLORREF capture_less, capture_more, level_prev, level_next;
  };
  const COLORREF S = COLOR_SURFACE, RS = COLOR_SURFACE_RAISED;
  const Case cases[] = {
      {-1, 0, COLOR_OUTLINE, S, S, S, S, S},  // control outlines stand 3:1 off the backdrop
      {0, 0, COLOR_ACCENT, RS, S, S, RS, RS},  // an active level raises the whole box
      {-1, CMD_CAPTURE_LESS, COLOR_OUTLINE, S, RS, S, S, S},
      {-1, CMD_CAPTURE_MORE, COLOR_OUTLINE, S, S, RS, S, S},
      {-1, CMD_LEVEL_NEXT, COLOR_OUTLINE, S, S, S, S, RS},
  };
  for (float scale : {1.0f, 1.5f}) {
    Layout lay{scale, (int)(1100 * scale), (int)(860 * scale)};
    for (const Case& c : cases) {
      fresh_state(scale);
      g_state.settings_open = true;
      g_state.start_level = c.start_level;
      g_ui.hovered_id = c.hovered_id;
      Canvas canvas(lay.cw, lay.ch);
      canvas.paint();
      int R = lay.R(), C = R - lay.P(200);
      int capture_y = lay.P(24) + lay.P(52) + lay.P(34) + 6 * lay.P(66);
      int level_y = capture_y + lay.P(66);
      int mid = lay.P(4) + lay.P(3) + lay.P(3);  // inside a button, above its glyph
      int box_x = C + lay.P(100);
      EXPECT_EQ(canvas.pixel(box_x, level_y + lay.P(4)), c.level_outline) << c.start_level << " " << scale;
      EXPECT_EQ(canvas.pixel(box_x, level_y + lay.P(36) - 2), c.level_fill) << c.start_level << " " << scale;
      EXPECT_EQ(canvas.pixel(C + lay.P(3) + lay.P(4), capture_y + mid), c.capture_less) << c.hovered_id << " " << scale;
      EXPECT_EQ(canvas.pixel(R - lay.P(7), capture_y + mid), c.capture_more) << c.hovered_id << " " << scale;
      EXPECT_EQ(canvas.pixel(C + lay.P(3) + lay.P(4), level_y + mid), c.level_prev) << c.hovered_id << " " << scale;
      EXPECT_EQ(canvas.pixel(R - lay.P(7), level_y + mid), c.level_next) << c.hovered_id << " " << scale;
    }
  }
}

}  // namespace

namespace {

bool high_surrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool low_surrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// An image's file name is its title, cut to 127 units. A character outside
// the basic plane takes two units; a cut between them would leave half a
// character, which draws as a box or as nothing the user wrote.
TEST(PaintTexts, TitleCutNeverSplitsACharacter) {
  struct Case {
    int before;            // 'a's before the two-unit character
    std::wstring want;     // the title as drawn in the selected view
  };
  const std::wstring pair = L"\U0001F600";
  const Case cases[] = {
      {126, std::wstring(126, L'a')},         // the pair would straddle the cut: it goes whole
      {125, std::wstring(125, L'a') + pair},  // the pair ends exactly at the cut: it stays
  };
  for (const Case& c : cases) {
    fresh_state(1.0f);
    std::wstring path = L"C:\\discs\\" + std::wstring(c.before, L'a') + pair + L"bc.iso";
    set_entry(0, path.c_str(), "", "", -1, DISC_UNKNOWN);
    g_state.entry_count = 1;
    g_state.selected = 0;
    // Wide enough that the selected view's title needs no ellipsis.
    std::vector<DrawnText> drawn = record_texts(5000, 860);
    bool title = false;
    for (const DrawnText& d : drawn) {
      for (size_t i = 0; i < d.text.size(); i++) {
        if (high_surrogate(d.text[i])) {
          EXPECT_TRUE(i + 1 < d.text.size() && low_surrogate(d.text[i + 1]))
              << c.before << ": half a character at the end of a text of " << d.text.size() << " units";
        } else if (low_surrogate(d.text[i])) {
          EXPECT_TRUE(i > 0 && high_surrogate(d.text[i - 1])) << c.before;
        }
      }
      title = title || (d.text == c.want && d.colour == COLOR_TEXT);
    }
    EXPECT_TRUE(title) << c.before << ": the title was not drawn whole up to the cut";
  }
}

}  // namespace

namespace {

// GDI objects this process holds. Windows answers GetGuiResources; Wine
// answers 0 there, but keeps the handle table Windows also points the
// process block at, with one 24-byte entry per handle whose type byte is
// non-zero while the object lives.
int live_gdi_objects() {
  DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (counted) return (int)counted;
  struct WineHandleEntry {
    UINT64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    UINT64 user;
  };
  static_assert(sizeof(WineHandleEntry) == 24, "Wine's handle entry is 24 bytes");
  // The process block's address from ntdll rather than NtCurrentTeb, whose
  // inline read of the thread block trips GCC's array-bounds warning.
  PROCESS_BASIC_INFORMATION basic;
  ULONG got = 0;
  if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof basic, &got) != 0)
    return -1;
  const BYTE* peb = (const BYTE*)basic.PebBaseAddress;
  const WineHandleEntry* table = *(const WineHandleEntry* const*)(peb + 0x94);  // GdiSharedHandleTable
  if (!table) return -1;
  int live = 0;
  for (int i = 0; i < 0x10000; i++) live += table[i].type != 0;
  return live;
}

// A build repaints the window up to twelve times a second for half an hour:
// an object left behind by each paint, or by each change of scale, would use
// up the process's GDI handles and the window would stop drawing.
TEST(PaintResources, PaintsAndScaleChangesLeaveNoGdiObjectBehind) {
  int start = live_gdi_objects();
  HRGN probe = CreateRectRgn(0, 0, 1, 1);
  bool counts = live_gdi_objects() == start + 1;
  DeleteObject(probe);
  if (start < 0 || !counts) GTEST_SKIP() << "this system does not tell how many GDI objects the process holds";

  fresh_state(1.0f, false);
  library_of_two(0, DISC_OK);
  Canvas canvas(1100, 860);
  // Every pane, the list scrolled and not, a build running and not. The
  // first round fills the image cache with what these frames draw.
  auto paint_panes = [&canvas](int rounds) {
    for (int i = 0; i < 4 * rounds; i++) {
      g_state.settings_open = i % 4 == 1;
      g_state.selected = i % 4 == 2 ? -1 : 0;
      g_job.running = i % 4 == 3;
      g_job.entry_index = 0;
      g_ui.scroll_offset = i % 8 < 4 ? 0 : 50;
      canvas.paint();
    }
  };
  paint_panes(2);
  int before = live_gdi_objects();
  paint_panes(10);
  EXPECT_EQ(live_gdi_objects(), before) << "after 40 paints at one scale";

  // Scale changes as the window makes them: new fonts, an emptied cache, a
  // paint that decodes every image again. Back at the first scale, the same
  // objects live as before.
  for (float scale : {1.25f, 1.75f, 3.0f, 1.5f, 1.0f}) {
    g_state.dpi_scale = scale;
    create_fonts();
    flush_image_cache();
    paint_panes(1);
  }
  flush_image_cache();
  paint_panes(2);
  EXPECT_EQ(live_gdi_objects(), before) << "after five changes of scale";
}

}  // namespace

namespace {

// The version line sits at the settings panel's foot, one row pitch below the
// Rebuild row's top (24 + 52 + 34 + 9 rows of 66 at scale 1), and moves
// nothing above it.
TEST(PaintLayout, VersionLineAtTheSettingsPanelsFoot) {
  for (float scale : {1.0f, 1.5f}) {
    fresh_state(scale);
    g_state.settings_open = true;
    std::vector<DrawnText> drawn = record_texts((int)(1100 * scale), (int)(860 * scale));
    const DrawnText* version = nullptr;
    const DrawnText* rebuild = nullptr;
    for (const DrawnText& d : drawn) {
      if (d.text == L"Project Telvar " TELVAR_VERSION_TEXT) version = &d;
      if (d.text == L"Rebuild the game") rebuild = &d;
    }
    ASSERT_TRUE(version && rebuild) << scale;
    auto P = [scale](int n) { return (int)(n * scale + 0.5f); };
    int rebuild_row = P(24) + P(52) + P(34) + 8 * P(66);
    EXPECT_GE(rebuild->y, rebuild_row) << scale;
    EXPECT_LT(rebuild->y, rebuild_row + P(66)) << scale;
    EXPECT_EQ(version->y, rebuild_row + P(66)) << scale;
    EXPECT_EQ(version->colour, COLOR_TEXT_MUTED);
  }
}

}  // namespace
