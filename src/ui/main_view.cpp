// The main view: the sidebar with the wordmark and the library list, and a
// main pane that shows the settings panel, the selected disc, or the empty
// state. Every paint draws everything from the state record and records the
// hit regions of what it drew, in drawing order (later regions win).
//
// It changes no state but the hit-region list (and, through the image calls,
// the image cache; and its own answers about built games, kept for one paint). Texts live in fixed buffers on the stack; the only GDI
// objects made per paint are the two clip regions, deleted before returning.
#include "ui/main_view.h"

#include <limits.h>
#include <wchar.h>

#include "core/state.h"
#include "pipeline/build_tree.h"
#include "launch/game_launch.h"
#include "library/catalog.h"
#include "library/library.h"
#include "ui/draw_kit.h"
#include "ui/entry_actions.h"
#include "ui/image_assets.h"
#include "ui/views.h"
#include "ui/ui_state.h"
#include "pipeline/job_status.h"
#include "ui/hit_regions.h"
#include "ui/image_ids.h"

static const wchar_t BUILDING_LABEL[] = L"Building\u2026";

int scroll_limit(int client_height) {
  int row_pitch = px(LIST_ROW_HEIGHT) + px(LIST_ROW_GAP);
  return px(LIST_TOP) + px(SIDEBAR_FOOTER) + row_pitch * g_state.entry_count - client_height;
}

void keep_scroll_in_range() {
  RECT client;
  if (!g_state.main_window || !GetClientRect(g_state.main_window, &client)) return;
  int limit = scroll_limit(client.bottom);
  if (g_ui.scroll_offset > limit) g_ui.scroll_offset = limit > 0 ? limit : 0;
}

void scroll_row_into_view(int32_t row, int client_height) {
  if (row < 0 || row >= g_state.entry_count) return;
  int pitch = px(LIST_ROW_HEIGHT) + px(LIST_ROW_GAP);
  int clip_top = px(SIDEBAR_HEADER) + px(LIST_CLIP_TOP);
  int clip_bottom = client_height - px(SIDEBAR_FOOTER);
  int top = px(SIDEBAR_HEADER) + px(LIST_FIRST_ROW) + row * pitch;  // unscrolled
  int offset = g_ui.scroll_offset;
  if (top + px(LIST_ROW_HEIGHT) - offset > clip_bottom) offset = top + px(LIST_ROW_HEIGHT) - clip_bottom;
  // A clip area lower than a row shows the row's top.
  if (top - offset < clip_top) offset = top - clip_top;
  int limit = scroll_limit(client_height);
  if (offset > limit) offset = limit;
  g_ui.scroll_offset = offset > 0 ? offset : 0;
}

// ---- Scroll bars ------------------------------------------------------------

// The thumb for an offset within a track: at least px(24) long, so that a
// long list still leaves something to grab.
static RECT thumb_of(const RECT& track, int view, int limit, int offset) {
  int length = track.bottom - track.top;
  int content = view + limit;
  int thumb = content > 0 ? (int)((long long)length * view / content) : length;
  if (thumb < px(24)) thumb = px(24);
  if (thumb > length) thumb = length;
  if (offset < 0) offset = 0;
  if (offset > limit) offset = limit;
  int top = track.top + (int)((long long)(length - thumb) * offset / limit);
  RECT r = {track.left, top, track.right, top + thumb};
  return r;
}

bool list_scroll_bar(int client_height, ScrollBar* bar) {
  int limit = scroll_limit(client_height);
  int W = px(SIDEBAR_WIDTH);
  int clip_top = px(SIDEBAR_HEADER) + px(LIST_CLIP_TOP), clip_bottom = client_height - px(SIDEBAR_FOOTER);
  if (limit <= 0 || clip_bottom - clip_top < px(32)) return false;
  // In the rows' right margin, clear of the rows and the sidebar's edge.
  bar->track = {W - px(10), clip_top + px(4), W - px(4), clip_bottom - px(4)};
  bar->grip = {W - px(LIST_ROW_INSET), clip_top, W - 1, clip_bottom};
  bar->limit = limit;
  bar->thumb = thumb_of(bar->track, clip_bottom - clip_top, limit, g_ui.scroll_offset);
  return true;
}

bool pane_scroll_bar(int client_width, int client_height, ScrollBar* bar) {
  int limit = g_ui.pane_content_height - client_height;
  if (limit <= 0 || client_height < px(48)) return false;
  // In the pane's right margin, outside every control (they end px(24) in).
  bar->track = {client_width - px(14), px(8), client_width - px(8), client_height - px(8)};
  bar->grip = {client_width - px(20), 0, client_width, client_height};
  bar->limit = limit;
  bar->thumb = thumb_of(bar->track, client_height, limit, g_ui.pane_scroll);
  return true;
}

int offset_for_thumb(const ScrollBar& bar, int start_offset, int dy) {
  int travel = (bar.track.bottom - bar.track.top) - (bar.thumb.bottom - bar.thumb.top);
  long long offset = start_offset;
  if (travel > 0) offset += (long long)dy * bar.limit / travel;
  if (offset > bar.limit) offset = bar.limit;
  return offset > 0 ? (int)offset : 0;
}

static void draw_scroll_bar(HDC dc, const ScrollBar& bar, int32_t id) {
  bool active = g_ui.drag_bar == id || g_ui.hovered_id == id;
  COLORREF thumb = active ? COLOR_BORDER_HOVER : COLOR_OUTLINE;
  int width = bar.track.right - bar.track.left;
  fill_round_rect(dc, bar.thumb, thumb, thumb, width);
  add_hit_region(bar.grip, id, 0);
}

int32_t pane_view_now() {
  if (g_state.settings_open) return 1;
  if (g_state.selected >= 0 && g_state.selected < g_state.entry_count) return 16 + g_state.selected;
  return 2;
}

bool keep_pane_scroll_in_range(int client_height) {
  int before = g_ui.pane_scroll;
  if (g_ui.pane_view != pane_view_now()) {
    g_ui.pane_scroll = 0;
  } else {
    int limit = g_ui.pane_content_height - client_height;
    if (g_ui.pane_scroll > limit) g_ui.pane_scroll = limit;
    if (g_ui.pane_scroll < 0) g_ui.pane_scroll = 0;
  }
  return g_ui.pane_scroll != before;
}

void scroll_pane_to_show(RECT rect, int client_height) {
  int margin = px(12);
  int top = rect.top + g_ui.pane_scroll, bottom = rect.bottom + g_ui.pane_scroll;  // in the content
  int offset = g_ui.pane_scroll;
  if (bottom - offset > client_height - margin) offset = bottom - (client_height - margin);
  if (top - offset < margin) offset = top - margin;
  // Going up to a control by the pane's top (the panel's "Done"): the title
  // beside it comes into sight too.
  if (offset < g_ui.pane_scroll && offset <= px(24)) offset = 0;
  int limit = g_ui.pane_content_height - client_height;
  if (offset > limit) offset = limit;
  g_ui.pane_scroll = offset > 0 ? offset : 0;
}

// The regions and items the pane recorded from first_region and first_item
// on were placed as if unscrolled: they move up by offset, and the regions
// are cut to the client area (a region wholly outside it goes), so a click
// reaches only what shows. Items stay for Tab, marked when out of sight.
static void move_pane_records(int32_t first_region, int32_t first_item, int offset, const RECT& view) {
  int32_t kept = first_region;
  int32_t count = g_ui.hit_region_count < HIT_REGION_CAPACITY ? g_ui.hit_region_count : HIT_REGION_CAPACITY;
  for (int32_t i = first_region; i < count; i++) {
    HitRegion region = g_ui.hit_regions[i];
    OffsetRect(&region.rect, 0, -offset);
    if (!IntersectRect(&region.rect, &region.rect, &view)) continue;
    g_ui.hit_regions[kept++] = region;
  }
  g_ui.hit_region_count = kept;
  int32_t items = g_ui.item_count < UI_ITEM_CAPACITY ? g_ui.item_count : UI_ITEM_CAPACITY;
  for (int32_t i = first_item; i < items; i++) {
    UiItem& item = g_ui.items[i];
    OffsetRect(&item.rect, 0, -offset);
    RECT shown;
    if (!IntersectRect(&shown, &item.rect, &view)) item.flags |= UI_ITEM_OFFSCREEN;
  }
}

// The banner art's horizon (the rising sun's centre), as a share of its height.
enum { BANNER_HORIZON_PERCENT = 74 };

// Answers of game_files_present for the paint in progress: -1 not asked yet.
// Emptied at the start of every paint, so nothing carries over to the next.
static bool g_painting;
static int8_t g_files_present[CATALOG_ROWS];

bool files_present_this_paint(int32_t row) {
  if (!g_painting || row < 0 || row >= CATALOG_ROWS) return game_files_present(row);
  if (g_files_present[row] < 0) g_files_present[row] = game_files_present(row) ? 1 : 0;
  return g_files_present[row] != 0;
}

static const CatalogEntry* row_of(const LibraryEntry& e) {
  return (e.catalog_row >= 0 && e.catalog_row < CATALOG_ROWS) ? &CATALOG[e.catalog_row] : NULL;
}

StatusLabel status_label(int32_t index) {
  if (index < 0 || index >= LIBRARY_CAPACITY) return {L"Not a PS2 disc image", COLOR_ERROR};
  const LibraryEntry& e = g_state.entries[index];
  switch (e.status) {
    case DISC_OK: {
      if (g_job.running && g_job.entry_index == index) return {BUILDING_LABEL, COLOR_ACCENT};
      if (g_state.running_entry == index) return {L"Playing now", COLOR_SUCCESS};
      if (build_left_unfinished(e.catalog_row)) return {L"Last build failed", COLOR_ERROR};
      if (catalog_row_playable(e.catalog_row) && !files_present_this_paint(e.catalog_row)) {
        // Its own build ended without a game: say so rather than offer the
        // build again as if nothing had happened.
        bool ended_here = !g_job.running && g_job.failed && g_job.entry_index == index;
        if (ended_here && g_job.cancel_requested) return {L"Build cancelled", COLOR_WARNING};
        // Refused before it started (the launcher's folder cannot hold a
        // build): nothing failed, and building again there cannot help.
        if (ended_here && g_job.refused) return {L"Cannot build here", COLOR_ERROR};
        if (ended_here) return {L"Build failed", COLOR_ERROR};
        if (catalog_row_buildable(e.catalog_row)) return {L"Ready to build", COLOR_ACCENT};
        return {L"Game files missing", COLOR_ERROR};
      }
      return {L"Ready to play", COLOR_SUCCESS};
    }
    case DISC_OTHER_REVISION: return {L"Different disc revision", COLOR_WARNING};
    case DISC_UNSUPPORTED: return {L"Not supported yet", COLOR_TEXT_MUTED};
    case DISC_UNKNOWN: return {L"Unknown PS2 disc", COLOR_TEXT_MUTED};
    case DISC_NOT_FOUND: return {L"Disc image not found", COLOR_ERROR};
    case DISC_CHECKING: return {L"Checking\u2026", COLOR_TEXT_MUTED};
    default: return {L"Not a PS2 disc image", COLOR_ERROR};
  }
}

// The catalogue title, or the image's file name cut to 127 characters.
static void disc_title(const LibraryEntry& e, wchar_t (&out)[128]) {
  const CatalogEntry* row = row_of(e);
  if (row) {
    copy_text(out, 128, row->title);
    return;
  }
  const wchar_t* slash = wcsrchr(e.path, L'\\');
  copy_text(out, 128, slash ? slash + 1 : e.path);  // a cut never keeps half a character
}

static RECT rect_of(int left, int top, int right, int bottom) {
  RECT r = {left, top, right, bottom};
  return r;
}

static int text_width(HDC dc, const wchar_t* text, FontRole font) {
  if (g_ui.fonts[font]) SelectObject(dc, g_ui.fonts[font]);
  SIZE size = {0, 0};
  GetTextExtentPoint32W(dc, text, (int)wcslen(text), &size);
  return size.cx;
}

static void draw_library_row(HDC dc, int32_t i, int y, int b, int right, const RECT& list) {
  const LibraryEntry& e = g_state.entries[i];
  int left = px(LIST_ROW_INSET);
  RECT row = rect_of(left, y, right, b);
  bool selected = i == g_state.selected;
  if (selected)
    fill_round_rect(dc, row, COLOR_SURFACE_RAISED, COLOR_BORDER, 10);
  else if (g_ui.hovered_id == CMD_SELECT_ENTRY && g_ui.hovered_arg == i)
    fill_round_rect(dc, row, COLOR_SURFACE, COLOR_BORDER_HOVER, 10);
  else
    fill_round_rect(dc, row, COLOR_SIDEBAR, COLOR_SIDEBAR, 10);
  if (selected) fill_solid(dc, rect_of(left, y + px(14), left + px(3), b - px(14)), COLOR_ACCENT);

  wchar_t title[128];
  disc_title(e, title);
  draw_text(dc, title, rect_of(left + px(16), y + px(10), right - px(12), y + px(32)), FONT_STRONG, COLOR_TEXT,
            DT_END_ELLIPSIS | DT_SINGLELINE);

  int x = left + px(16);
  const CatalogEntry* cat = row_of(e);
  if (cat) {
    wchar_t region[128];
    format_text(region, 128, L"%ls", cat->region ? cat->region : L"");
    if (region[0]) {
      draw_text(dc, region, rect_of(x, y + px(36), right, y + px(56)), FONT_SMALL, COLOR_TEXT_SECONDARY,
                DT_SINGLELINE);
      x += text_width(dc, region, FONT_SMALL) + px(10);
    }
  }
  StatusLabel label = status_label(i);
  draw_dot(dc, rect_of(x, y + px(42), x + px(7), y + px(49)), label.colour);
  draw_text(dc, label.text, rect_of(x + px(12), y + px(36), right - px(12), y + px(56)), FONT_SMALL,
            COLOR_TEXT_SECONDARY, DT_END_ELLIPSIS | DT_SINGLELINE);
  // Only the part of the row that the list shows is clickable: under the
  // header and the footer a click must reach no row that nobody can see.
  RECT visible;
  if (IntersectRect(&visible, &row, &list)) {
    add_hit_region(visible, CMD_SELECT_ENTRY, i);
    wchar_t detail[UI_DETAIL_UNITS];
    const wchar_t* region_name = cat && cat->region ? cat->region : L"";
    format_text(detail, UI_DETAIL_UNITS, L"%ls%ls%ls", region_name, region_name[0] ? L", " : L"", label.text);
    record_item(visible, CMD_SELECT_ENTRY, i, UI_ROLE_LIST_ITEM, selected ? UI_ITEM_SELECTED : 0, title, detail);
  }
}

static void draw_library_list(HDC dc, int H, int W, int bottom) {
  RECT list = rect_of(0, H + px(LIST_CLIP_TOP), W - 1, bottom - px(SIDEBAR_FOOTER));
  HRGN clip = CreateRectRgn(list.left, list.top, list.right, list.bottom);
  if (clip) SelectClipRgn(dc, clip);
  int y = H + px(LIST_FIRST_ROW) - g_ui.scroll_offset;
  for (int32_t i = 0; i < g_state.entry_count; i++) {
    int b = y + px(LIST_ROW_HEIGHT);
    // Rows wholly above the header or below the window cost nothing: no
    // label, no file test, no region.
    if (!(b < H || y > bottom)) draw_library_row(dc, i, y, b, W - px(LIST_ROW_INSET), list);
    y = b + px(LIST_ROW_GAP);
  }
  SelectClipRgn(dc, NULL);
  if (clip) DeleteObject(clip);
}

// The status line under a pane's content: what the last command reported
// (a scan's count, a failed save), in every view.
static void draw_status_line(HDC dc, RECT line, UINT align) {
  if (!g_state.status_text[0]) return;
  draw_text(dc, g_state.status_text, line, FONT_BODY, g_state.status_is_error ? COLOR_ERROR : COLOR_TEXT_SECONDARY,
            align | DT_END_ELLIPSIS | DT_SINGLELINE);
}

// The main pane when no disc is selected: an empty library invites the first
// disc; a library with discs (after a folder was dropped, say) asks for a choice.
static void draw_empty_state(HDC dc, int L, int R, int W, int client_right, int bottom) {
  int cy = bottom / 2 + px(70);
  int cx = (client_right + W) / 2;
  bool has_discs = g_state.entry_count > 0;
  draw_image(dc, IMAGE_EMPTY_STATE, px(320), px(200), cx - px(160), cy - px(290));
  draw_text(dc, has_discs ? L"Select a disc" : L"Your library is empty", rect_of(L, cy - px(60), R, cy - px(24)),
            FONT_TITLE, COLOR_TEXT, DT_CENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  draw_text(dc,
            has_discs ? L"Choose a disc in the library on the left to build or play it, or add another."
                      : L"Add your own copy of the game as a disc image (.iso), or drop one on this window.",
            rect_of(L, cy - px(14), R, cy + px(28)), FONT_BODY, COLOR_TEXT_SECONDARY, DT_CENTER | DT_WORDBREAK);
  draw_button(dc, rect_of(cx - px(176) - px(6), cy + px(30), cx - px(6), cy + px(70)), L"Add disc image",
              CMD_ADD_DISC, 1, !has_discs, true, ICON_PLUS);
  draw_button(dc, rect_of(cx + px(6), cy + px(30), cx + px(6) + px(176), cy + px(70)), L"Scan a folder",
              CMD_SCAN_FOLDER, 1, false, true, ICON_MAGNIFIER);
  draw_status_line(dc, rect_of(L, cy + px(90), R, cy + px(112)), DT_CENTER);
}

static void draw_progress_block(HDC dc, int L, int R, int y) {
  // A progress report redraws this much of the window: the texts, the bar
  // and the Cancel button, which sinks by px(1) while pressed.
  g_ui.progress_block = rect_of(L, y, R, y + px(44) + px(1));
  int track_right = R - px(110) - px(12);
  fill_round_rect(dc, rect_of(L, y + px(30), track_right, y + px(38)), COLOR_SURFACE, COLOR_BORDER, 8);
  double progress = g_job.progress;
  // Written "not NaN" so that a NaN fraction counts as nothing done.
  double f = !(progress > 0.0) ? 0.0 : progress > 1.0 ? 1.0 : progress;
  int w = (int)(f * (track_right - L));
  // A fill shorter than its own rounded ends would draw as a blot.
  if (w > px(8)) fill_round_rect(dc, rect_of(L, y + px(30), L + w, y + px(38)), COLOR_ACCENT, COLOR_ACCENT, 8);

  // The percentage shows the fraction as stored, past 100 % too; it comes from
  // the build script's counters, so it is kept within int before the cast,
  // which would otherwise be undefined and print nonsense.
  double percent_value = progress * 100 + 0.5;
  if (percent_value != percent_value) percent_value = 0;
  if (percent_value > INT_MAX) percent_value = INT_MAX;
  if (percent_value < INT_MIN) percent_value = INT_MIN;
  wchar_t percent[16];
  format_text(percent, 16, L"%d%%", (int)percent_value);
  wchar_t stage[STAGE_TEXT_UNITS];
  job_read_texts(stage, STAGE_TEXT_UNITS, NULL, 0);
  draw_text(dc, stage, rect_of(L, y, R - px(110) - px(70), y + px(24)), FONT_STRONG, COLOR_TEXT,
            DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER);
  draw_text(dc, percent, rect_of(R - px(110) - px(70), y, R - px(110) - px(12), y + px(24)), FONT_STRONG,
            COLOR_TEXT_SECONDARY, DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
  record_item(rect_of(L, y + px(30), track_right, y + px(38)), 0, 0, UI_ROLE_PROGRESS, 0, stage, percent);
  bool stopping = g_job.cancel_requested != 0;
  draw_button(dc, rect_of(R - px(110), y + px(4), R, y + px(44)), stopping ? L"Stopping\u2026" : L"Cancel",
              CMD_CANCEL_BUILD, 0, false, !stopping, ICON_CROSS);
}

static void draw_button_row(HDC dc, uint32_t actions, int L, int R, int y) {
  RECT primary = rect_of(L, y, L + px(170), y + px(48));
  if ((actions & ENTRY_UNFINISHED) && !(actions & ENTRY_GAME_RUNS)) {
    // Whatever files the cut-short build left, they may not make a game: the
    // one way on is to build it again.
    draw_button(dc, primary, L"Rebuild", CMD_REBUILD, 0, true, (actions & ENTRY_REBUILD) != 0, ICON_REBUILD);
  } else {
    const wchar_t* label = (actions & ENTRY_GAME_RUNS) ? L"Running\u2026"
                           : (actions & ENTRY_NOT_BUILT) ? L"Build"
                                                         : L"Play";
    int icon = (actions & ENTRY_NOT_BUILT) ? ICON_HAMMER : ICON_PLAY;
    // No game starts while a build makes its files.
    bool enabled = (actions & (ENTRY_PLAY | ENTRY_BUILD)) != 0;
    draw_button(dc, primary, label, CMD_PRIMARY_ACTION, 0, true, enabled, icon);
  }

  // The secondary buttons, left to right, and Remove alone at the right end.
  struct Secondary {
    const wchar_t* label;
    int32_t id;
    bool enabled;
    int icon;
    int width;  // with its label
  };
  const Secondary row[4] = {
      {L"Settings", CMD_OPEN_SETTINGS, true, ICON_GEAR, px(128)},
      {L"Open log", CMD_OPEN_LOG, (actions & ENTRY_OPEN_LOG) != 0, ICON_DOCUMENT, px(128)},
      {L"Game folder", CMD_OPEN_GAME_FOLDER, (actions & ENTRY_GAME_FOLDER) != 0, ICON_FOLDER, px(150)},
      {L"Remove", CMD_REMOVE_ENTRY, (actions & ENTRY_REMOVE) != 0, ICON_BIN, px(120)},
  };
  // With their labels the buttons need the pane's full width; in a narrower
  // window they become squares with their icons, so that no button ever lies
  // over another (the tooltip and a screen reader still name each one).
  int labelled_end = L + px(182) + px(140) + px(140) + row[2].width;
  bool labelled = labelled_end + px(12) <= R - row[3].width;
  int x = L + px(182);
  for (int i = 0; i < 4; i++) {
    const Secondary& b = row[i];
    if (labelled) {
      int left = i == 3 ? R - b.width : x;
      draw_button(dc, rect_of(left, y + px(4), left + b.width, y + px(44)), b.label, b.id, 0, false, b.enabled,
                  b.icon);
      x += px(140);
    } else {
      int side = px(40);
      int left = i == 3 ? R - side : x;
      draw_icon_button(dc, rect_of(left, y + px(4), left + side, y + px(44)), b.label, b.id, 0, b.enabled, b.icon);
      x += side + px(12);
    }
  }
}

// Where a message line that holds fit units of text from line should end: after
// the last space in them, else after the last backslash (a long path breaks
// between its folders), else at fit itself, never between the two halves of
// a surrogate pair.
static size_t message_break(const wchar_t* line, size_t fit) {
  for (size_t i = fit; i > 0; i--)
    if (line[i] == L' ') return i;
  for (size_t i = fit; i > 0; i--)
    if (line[i - 1] == L'\\') return i;
  if (fit > 1 && line[fit] >= 0xDC00 && line[fit] <= 0xDFFF) fit--;
  return fit > 0 ? fit : 1;
}

// How many units from the start of text fit in width pixels of the body font
// (at least one, so that every line moves on).
static size_t units_that_fit(HDC dc, const wchar_t* text, int width) {
  if (g_ui.fonts[FONT_BODY]) SelectObject(dc, g_ui.fonts[FONT_BODY]);
  int fit = 0;
  SIZE size = {0, 0};
  GetTextExtentExPointW(dc, text, (int)wcslen(text), width > 0 ? width : 0, &fit, NULL, &size);
  return fit > 0 ? (size_t)fit : 1;
}

enum {
  MESSAGE_LINES_MOST = 3,   // a longer message is cut at the end of the third
  MESSAGE_LINE_PITCH = 20,  // design pixels from one message line to the next
};

// Draws a message from ym down, in as many lines as it needs up to three, the
// last cut with an ellipsis when even three do not hold it; returns the lines
// used. A text that fits is drawn as one line in the line's own box, as it
// always was. Long texts are mostly refusals and failures whose advice comes
// last; cut at one line, the advice was what the user never saw.
static int draw_message(HDC dc, const wchar_t* text, COLORREF colour, int L, int R, int ym) {
  const UINT ellipsis = DT_END_ELLIPSIS | DT_SINGLELINE;
  int width = R - L;
  int lines = 0;
  const wchar_t* rest = text;
  while (*rest) {
    int top = ym + lines * px(MESSAGE_LINE_PITCH);
    RECT box = rect_of(L, top, R, top + px(22));
    if (lines == MESSAGE_LINES_MOST - 1 || text_width(dc, rest, FONT_BODY) <= width) {
      draw_text(dc, rest, box, FONT_BODY, colour, ellipsis);
      return lines + 1;
    }
    size_t end = message_break(rest, units_that_fit(dc, rest, width));
    wchar_t piece[ERROR_TEXT_UNITS];
    size_t n = end < ERROR_TEXT_UNITS - 1 ? end : ERROR_TEXT_UNITS - 1;
    memcpy(piece, rest, n * sizeof(wchar_t));
    piece[n] = 0;
    draw_text(dc, piece, box, FONT_BODY, colour, ellipsis);
    lines++;
    rest += end;
    while (*rest == L' ') rest++;
  }
  return lines > 0 ? lines : 1;
}

// The message line under the buttons; returns the lines its text took.
static int draw_message_line(HDC dc, const LibraryEntry& e, uint32_t actions, bool progress_drawn, int L, int R,
                             int ym) {
  // The status line is emptied when a build ends with an error, so a text
  // in it came later (the answer to Open log, say) and is the one to show.
  if (g_state.status_text[0]) {
    COLORREF colour = g_state.status_is_error ? COLOR_ERROR : COLOR_TEXT_SECONDARY;
    return draw_message(dc, g_state.status_text, colour, L, R, ym);
  } else if (g_job.failed && g_job.entry_index == g_state.selected && !progress_drawn) {
    wchar_t error[ERROR_TEXT_UNITS];
    job_read_texts(NULL, 0, error, ERROR_TEXT_UNITS);
    return draw_message(dc, error, COLOR_ERROR, L, R, ym);
  } else if (e.status == DISC_NOT_FOUND) {
    wchar_t gone[STATUS_TEXT_UNITS];
    describe_missing_disc(e.path, gone, STATUS_TEXT_UNITS);
    return draw_message(dc, gone, COLOR_ERROR, L, R, ym);
  } else if (progress_drawn) {
    return draw_message(dc,
                        L"Building from your disc. You can keep using your PC; closing this window stops the build.",
                        COLOR_TEXT_SECONDARY, L, R, ym);
  } else if (actions & ENTRY_UNFINISHED) {
    return draw_message(
        dc, L"The last build did not finish, and the game from before it could not be put back. Rebuild it.",
        COLOR_ERROR, L, R, ym);
  } else if (actions & ENTRY_NOT_BUILT) {
    return draw_message(dc,
                        L"First time: downloads about 95 MB of tools and source, then builds the game from your "
                        L"disc (10 to 30 minutes).",
                        COLOR_TEXT_SECONDARY, L, R, ym);
  } else if (e.status == DISC_UNSUPPORTED) {
    return draw_message(dc, L"This game is recognised, but its recompilation is not built yet.",
                        COLOR_TEXT_SECONDARY, L, R, ym);
  } else if (e.status == DISC_OTHER_REVISION) {
    return draw_message(
        dc, L"This disc's executable differs from the one this build was made from. It may not run correctly.",
        COLOR_WARNING, L, R, ym);
  }
  return 0;
}

static int draw_selected_view(HDC dc, int L, int R, int bottom) {
  int32_t index = g_state.selected;
  const LibraryEntry& e = g_state.entries[index];
  StatusLabel label = status_label(index);
  int T = px(24);

  HRGN clip = CreateRoundRectRgn(L, T, R + 1, T + px(150) + 1, px(10), px(10));
  // A clip region is in device pixels: a scrolled pane's origin moves it.
  POINT origin = {0, 0};
  GetViewportOrgEx(dc, &origin);
  if (clip) OffsetRgn(clip, origin.x, origin.y);
  if (clip) SelectClipRgn(dc, clip);
  fill_solid(dc, rect_of(L, T, R, T + px(150)), COLOR_BACKDROP);
  // A wide window scales the art up past the banner's height; the crop keeps
  // the horizon, 74 % down the art, where it sits when the art just fits.
  if (px(150) > 0 && R > L && !high_contrast())
    draw_cover_image(dc, IMAGE_BANNER, rect_of(L, T, R, T + px(150)), BANNER_HORIZON_PERCENT);
  SelectClipRgn(dc, NULL);
  if (clip) DeleteObject(clip);

  wchar_t title[128];
  disc_title(e, title);
  draw_text(dc, title, rect_of(L + px(24), T + px(30), R - px(200), T + px(74)), FONT_TITLE, COLOR_TEXT,
            DT_END_ELLIPSIS | DT_SINGLELINE);

  int y1 = T + px(84);
  int x = L + px(24);
  const CatalogEntry* row = row_of(e);
  if (row) {
    const wchar_t* region = row->region ? row->region : L"";
    int cx = text_width(dc, region, FONT_SMALL);
    RECT chip = rect_of(x, y1, x + cx + px(16), y1 + px(22));
    fill_round_rect(dc, chip, COLOR_SURFACE, COLOR_BORDER, 22);
    draw_text(dc, region, chip, FONT_SMALL, COLOR_TEXT, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
    x = chip.right + px(10);
  }
  draw_dot(dc, rect_of(x, y1 + px(7), x + px(9), y1 + px(16)), label.colour);
  draw_text(dc, label.text, rect_of(x + px(15), y1, R - px(200), y1 + px(22)), FONT_BODY, COLOR_TEXT,
            DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);

  uint32_t actions = entry_actions(index);
  int y = T + px(150) + px(24);
  bool progress_drawn = g_job.running && g_job.entry_index == index;
  if (progress_drawn)
    draw_progress_block(dc, L, R, y);
  else
    draw_button_row(dc, actions, L, R, y);
  int ym = y + px(60);
  int lines = draw_message_line(dc, e, actions, progress_drawn, L, R, ym);
  // The cards move down by the lines a long message took beyond the first.
  int below = lines > 1 ? (lines - 1) * px(MESSAGE_LINE_PITCH) : 0;
  return draw_disc_details(dc, index, L, R, ym + px(36) + below, bottom);
}

void paint_window(HDC dc, const RECT* client) {
  g_ui.hit_region_count = 0;
  g_ui.item_count = 0;
  SetRectEmpty(&g_ui.progress_block);
  for (int8_t& answer : g_files_present) answer = -1;
  g_painting = true;
  int bottom = client->bottom, client_right = client->right;
  int H = px(SIDEBAR_HEADER), W = px(SIDEBAR_WIDTH);

  // A high-contrast theme gets its plain window colour: no star field, no banner art.
  HBRUSH tile = high_contrast() ? NULL : get_background_brush();
  if (tile) {
    SetBrushOrgEx(dc, 0, 0, NULL);
    FillRect(dc, client, tile);
  } else {
    fill_solid(dc, *client, COLOR_BACKDROP);
  }

  fill_solid(dc, rect_of(0, 0, W, bottom), COLOR_SIDEBAR);
  fill_solid(dc, rect_of(W - 1, 0, W, bottom), COLOR_BORDER);
  // The wordmark's light art would vanish on a light high-contrast window.
  if (high_contrast() || !draw_image(dc, IMAGE_WORDMARK_EMBLEM, px(260), px(40), px(20), px(14)))
    draw_text(dc, L"PROJECT TELVAR", rect_of(px(20), px(18), W - px(10), px(46)), FONT_WORDMARK, COLOR_TEXT,
              DT_SINGLELINE | DT_VCENTER);
  draw_text(dc, L"LIBRARY", rect_of(px(20), H + px(6), W - px(20), H + px(26)), FONT_SMALL, COLOR_TEXT_MUTED,
            DT_SINGLELINE);
  draw_library_list(dc, H, W, bottom);
  if (g_state.entry_count == 0)
    draw_text(dc, L"No games yet", rect_of(px(20), H + px(36), W - px(20), H + px(60)), FONT_BODY,
              COLOR_TEXT_MUTED, DT_SINGLELINE);

  fill_solid(dc, rect_of(0, bottom - px(SIDEBAR_FOOTER), W - 1, bottom - px(SIDEBAR_FOOTER - 1)), COLOR_BORDER);
  draw_button(dc, rect_of(px(16), bottom - px(100), W - px(16), bottom - px(60)), L"Add disc image", CMD_ADD_DISC,
              0, false, true, ICON_PLUS);
  draw_button(dc, rect_of(px(16), bottom - px(52), W - px(16), bottom - px(16)), L"Scan a folder",
              CMD_SCAN_FOLDER, 0, false, true, ICON_MAGNIFIER);

  // The main pane is laid out unscrolled and drawn moved up by its offset;
  // what it records moves with it afterwards.
  int L = W + px(24), R = client_right - px(24);
  int offset = g_ui.pane_scroll > 0 ? g_ui.pane_scroll : 0;
  int32_t first_region = g_ui.hit_region_count, first_item = g_ui.item_count;
  POINT origin = {0, 0};
  if (offset) OffsetViewportOrgEx(dc, 0, -offset, &origin);
  int content = 0;  // the empty state centres itself in whatever room there is
  if (g_state.settings_open) {
    int end = draw_settings_panel(dc, L, R);
    // A change that could not be saved says why and what to do, which may
    // take more than one line.
    int lines = 1;
    if (g_state.status_text[0])
      lines = draw_message(dc, g_state.status_text, g_state.status_is_error ? COLOR_ERROR : COLOR_TEXT_SECONDARY, L,
                           R, end);
    content = end + px(22) + (lines - 1) * px(MESSAGE_LINE_PITCH) + px(24);
  } else if (g_state.selected >= 0 && g_state.selected < g_state.entry_count) {
    content = draw_selected_view(dc, L, R, bottom) + px(24);
  } else {
    draw_empty_state(dc, L, R, W, client_right, bottom);
  }
  if (offset) SetViewportOrgEx(dc, origin.x, origin.y, NULL);
  move_pane_records(first_region, first_item, offset, rect_of(W, 0, client_right, bottom));
  g_ui.pane_content_height = content;
  g_ui.pane_view = pane_view_now();

  ScrollBar bar;
  if (list_scroll_bar(bottom, &bar)) draw_scroll_bar(dc, bar, SCROLL_BAR_LIST);
  if (pane_scroll_bar(client_right, bottom, &bar)) draw_scroll_bar(dc, bar, SCROLL_BAR_PANE);
  draw_focus_ring(dc);
  g_painting = false;
}
