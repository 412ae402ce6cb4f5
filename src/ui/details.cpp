// The selected disc's detail cards: "Disc", with what identification found
// and where the built game lives, and for a disc with a game to build the
// "Controller" legend from the classic pad's buttons to the modern pad's.
// They only draw; no hit regions. The controller card is drawn whole or not
// at all. Texts go into fixed stack buffers; no GDI object is made. The
// cards change only when the disc, its game files or the window do, so their
// pixels are kept between paints (paint_cache.h) and drawn again only then.
#include <windows.h>
#include <string.h>

#include "core/state.h"
#include "library/catalog.h"
#include "ui/draw_kit.h"
#include "ui/image_assets.h"
#include "ui/paint_cache.h"
#include "ui/views.h"
#include "ui/image_ids.h"

struct LegendRow {
  int classic_glyph;
  const wchar_t* classic_name;
  int pad_glyph;
  const wchar_t* pad_name;
};

// Face buttons and Start in the left column, shoulders and Select in the right.
static const LegendRow LEGEND[10] = {
    {GLYPH_CROSS, L"Cross", GLYPH_A, L"A"},     {GLYPH_CIRCLE, L"Circle", GLYPH_B, L"B"}, {GLYPH_SQUARE, L"Square", GLYPH_X, L"X"},
    {GLYPH_TRIANGLE, L"Triangle", GLYPH_Y, L"Y"},  {GLYPH_START, L"Start", GLYPH_MENU, L"Menu"}, {GLYPH_L1, L"L1", GLYPH_LB, L"LB"},
    {GLYPH_R1, L"R1", GLYPH_RB, L"RB"},       {GLYPH_L2, L"L2", GLYPH_LT, L"LT"},     {GLYPH_R2, L"R2", GLYPH_RT, L"RT"},
    {GLYPH_SELECT, L"Select", GLYPH_VIEW, L"View"},
};

static RECT rect_of(int left, int top, int right, int bottom) {
  RECT r = {left, top, right, bottom};
  return r;
}

// An 8-bit text of the entry (serial, MD5) in the ANSI code page, at most 64
// characters; an unconvertible text comes out empty.
static void widen(const char* text, wchar_t (&out)[65]) {
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, out, 64);
  if (n <= 0) n = 1;
  out[n - 1 < 64 ? n - 1 : 64] = 0;
}

static void draw_controller_card(HDC dc, int L, int R, int top) {
  int bottom = top + px(232);
  fill_round_rect(dc, rect_of(L, top, R, bottom), COLOR_SURFACE, COLOR_BORDER, 10);
  int x = L + px(20);
  int w = R - (L + px(40));
  draw_text(dc, L"Controller", rect_of(x, top + px(16), x + px(200), top + px(16) + px(22)), FONT_HEADING,
            COLOR_TEXT, DT_SINGLELINE);
  draw_text(dc, L"Xbox, DualShock 4 and DualSense, over USB or Bluetooth",
            rect_of(x + px(110), top + px(16), x + w, top + px(16) + px(22)), FONT_SMALL, COLOR_TEXT_SECONDARY,
            DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
  int g = px(24), p = px(30), cw = w / 2;
  int y1 = top + px(16) + px(36);
  for (int k = 0; k < 10; k++) {
    const LegendRow& row = LEGEND[k];
    int gx = x + (k < 5 ? 0 : 1) * cw, gy = y1 + (k % 5) * p;
    draw_image(dc, row.classic_glyph, g, g, gx, gy);
    draw_text(dc, row.classic_name, rect_of(gx + g + px(10), gy, gx + g + px(100), gy + g), FONT_BODY,
              COLOR_TEXT_SECONDARY, DT_SINGLELINE | DT_VCENTER);
    draw_text(dc, L"\u2192", rect_of(gx + px(120), gy, gx + px(144), gy + g), FONT_BODY, COLOR_TEXT_MUTED,
              DT_CENTER | DT_SINGLELINE | DT_VCENTER);
    draw_image(dc, row.pad_glyph, g, g, gx + px(154), gy);
    draw_text(dc, row.pad_name, rect_of(gx + g + px(154) + px(10), gy, gx + cw - px(8), gy + g), FONT_STRONG,
              COLOR_TEXT, DT_SINGLELINE | DT_VCENTER);
  }
}

// For a disc of another revision, the revision the launcher supports for the
// row: its region, boot file and MD5, beside the MD5 that was found.
static bool supported_revision_text(const LibraryEntry& e, wchar_t* out, size_t units) {
  if (e.status != DISC_OTHER_REVISION || e.catalog_row < 0 || e.catalog_row >= CATALOG_ROWS) return false;
  const CatalogEntry& row = CATALOG[e.catalog_row];
  if (!row.md5) return false;
  format_text(out, units, L"%ls: boot file %hs, MD5 %hs", row.region, row.serial, row.md5);
  return true;
}

// Returns the lowest y the cards reach.
static int draw_disc_cards(HDC dc, int32_t index, int L, int R, int y0, int client_bottom) {
  const LibraryEntry& e = g_state.entries[index];
  wchar_t supported[160];
  bool explain = supported_revision_text(e, supported, 160);
  // The explanation is one row more; the card grows by it and the legend
  // moves down with it.
  int card_height = px(190) + (explain ? px(30) : 0);
  fill_round_rect(dc, rect_of(L, y0, R, y0 + card_height), COLOR_SURFACE, COLOR_BORDER, 10);
  int x = L + px(20);
  int w = R - (L + px(40));
  draw_text(dc, L"Disc", rect_of(x, y0 + px(16), x + w, y0 + px(16) + px(22)), FONT_HEADING, COLOR_TEXT,
            DT_SINGLELINE);

  int ry = y0 + px(16) + px(32);
  draw_detail_row(dc, x, &ry, w, L"Image", e.path, COLOR_TEXT);

  // Until the identification worker answers, nothing is known yet: "none"
  // would say the disc has no boot file.
  if (e.status == DISC_CHECKING) {
    draw_detail_row(dc, x, &ry, w, L"Boot executable", L"Checking\u2026", COLOR_TEXT_MUTED);
    draw_detail_row(dc, x, &ry, w, L"MD5", L"Checking\u2026", COLOR_TEXT_MUTED);
    draw_detail_row(dc, x, &ry, w, L"Game files", L"\u2013", COLOR_TEXT_MUTED);
    return y0 + card_height;
  }
  wchar_t serial[65];
  widen(e.serial, serial);
  draw_detail_row(dc, x, &ry, w, L"Boot executable", serial[0] ? serial : L"none", COLOR_TEXT);

  if (e.md5[0]) {
    wchar_t md5[65];
    widen(e.md5, md5);
    const wchar_t* note = e.status == DISC_OK ? L"(matches)"
                          : e.status == DISC_OTHER_REVISION ? L"(different revision)"
                                                             : L"";
    wchar_t value[324];
    format_text(value, 324, L"%ls  %ls", md5, note);
    draw_detail_row(dc, x, &ry, w, L"MD5", value, e.status == DISC_OTHER_REVISION ? COLOR_WARNING : COLOR_TEXT);
  } else {
    draw_detail_row(dc, x, &ry, w, L"MD5", L"\u2013", COLOR_TEXT_MUTED);
  }
  if (explain) draw_detail_row(dc, x, &ry, w, L"Supported", supported, COLOR_TEXT_SECONDARY);

  if (!catalog_row_playable(e.catalog_row)) {
    draw_detail_row(dc, x, &ry, w, L"Game files", L"\u2013", COLOR_TEXT_MUTED);
    return y0 + card_height;
  }
  if (files_present_this_paint(e.catalog_row)) {
    wchar_t folder[PATH_UNITS];
    game_folder(e.catalog_row, folder);
    draw_detail_row(dc, x, &ry, w, L"Game files", folder, COLOR_TEXT);
  } else if (catalog_row_buildable(e.catalog_row)) {
    draw_detail_row(dc, x, &ry, w, L"Game files", L"Not built yet", COLOR_TEXT_SECONDARY);
  } else {
    draw_detail_row(dc, x, &ry, w, L"Game files", L"Missing", COLOR_ERROR);
  }

  int top = y0 + card_height + px(12);
  if (top + px(232) >= client_bottom - px(24)) return y0 + card_height;  // whole or not at all
  draw_controller_card(dc, L, R, top);
  return top + px(232);
}

// Everything the cards are drawn from besides the scale, the colours and
// their place: the whole entry record (a field the cards do not show only
// costs a drawing), whether the game is built, and the launcher's folder the
// game folder is named from. Compared as bytes, so it starts zeroed.
struct DetailsKey {
  LibraryEntry entry;                  // the selected entry as it is now
  int32_t files_present;               // game_files_present of its row; 0 when the row has no game
  int32_t client_bottom;               // decides whether the legend fits
  wchar_t launcher_dir[PATH_UNITS];    // the built game's folder lies below it
};
static_assert(sizeof(DetailsKey) <= PAINT_KEY_BYTES, "the details key must fit the paint cache");

int draw_disc_details(HDC dc, int32_t index, int L, int R, int y0, int client_bottom) {
  // Where the cards ended at the paint that was kept: a restore needs the
  // same key and the same area, so the same cards, ending at the same place.
  static int kept_bottom;
  static DetailsKey key;
  memset(&key, 0, sizeof key);
  memcpy(&key.entry, &g_state.entries[index], sizeof key.entry);
  if (catalog_row_playable(key.entry.catalog_row)) key.files_present = files_present_this_paint(key.entry.catalog_row);
  key.client_bottom = client_bottom;
  memcpy(key.launcher_dir, g_state.launcher_dir, sizeof key.launcher_dir);
  // The cards lie on the backdrop alone, and nothing else of the frame is
  // drawn below y0 in the pane before the focus ring. The area reaches to
  // the legend's lowest bottom or the window's, whichever is higher: the
  // less backdrop it holds, the less a restore copies. A window too low for
  // the tallest card keeps nothing (the area then runs past the bitmap).
  int tallest_card = px(190) + px(30);
  int lowest = y0 + tallest_card + px(12) + px(232);
  int area_bottom = client_bottom < lowest ? client_bottom : lowest;
  if (area_bottom < y0 + tallest_card) area_bottom = y0 + tallest_card;
  RECT area = rect_of(L, y0, R, area_bottom);
  if (restore_painted_part(dc, PAINT_PART_DETAILS, area, &key, sizeof key)) return kept_bottom;
  kept_bottom = draw_disc_cards(dc, index, L, R, y0, client_bottom);
  keep_painted_part(dc, PAINT_PART_DETAILS, area, &key, sizeof key);
  return kept_bottom;
}
