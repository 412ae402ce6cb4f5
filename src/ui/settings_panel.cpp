// The settings panel: the eight user settings of the settings table as rows
// of a title, a description and a control (two segments, five switches, two
// steppers), and a row to rebuild the selected game. It only draws and
// records regions; the commands change the values and save them.
//
// Texts are formatted into fixed stack buffers; no GDI object is made.
#include <windows.h>
#include <wchar.h>

#include "core/settings_table.h"
#include "core/state.h"
#include "launch/game_launch.h"
#include "library/catalog.h"
#include "core/version.h"
#include "ui/draw_kit.h"
#include "ui/entry_actions.h"
#include "ui/views.h"
#include "ui/ui_state.h"
#include "pipeline/job_status.h"
#include "ui/hit_regions.h"
#include "ui/image_ids.h"

static RECT rect_of(int left, int top, int right, int bottom) {
  RECT r = {left, top, right, bottom};
  return r;
}

static bool hovered(int32_t id, int32_t arg) { return g_ui.hovered_id == id && g_ui.hovered_arg == arg; }

// The whole monitor's height, not its work area: the game goes full screen.
static int monitor_height() {
  HMONITOR monitor = MonitorFromWindow(g_state.main_window, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (monitor && GetMonitorInfoW(monitor, &info)) return info.rcMonitor.bottom - info.rcMonitor.top;
  return GetSystemMetrics(SM_CYSCREEN);
}

static int draw_resolution_row(HDC dc, int L, int R, int C, int y, const SettingInfo& setting) {
  wchar_t description[200];
  format_text(description, 200, setting.description, (int)upscale_factor(), monitor_height());
  int next = draw_setting_label(dc, L, R, y, setting.title, description);
  fill_round_rect(dc, rect_of(C, y + px(4), R, y + px(36)), COLOR_SURFACE, COLOR_OUTLINE, 6);
  int half = px(197) / 2;
  static const wchar_t* const NAMES[2] = {L"Native", L"Upscaled"};
  int chosen = g_state.upscaled != 0 ? 1 : 0;
  for (int i = 0; i < 2; i++) {
    RECT segment = rect_of(C + px(3) + i * half, y + px(4) + px(3), C + (i + 1) * half, y + px(36) - px(3));
    COLORREF label = COLOR_TEXT;
    if (i == chosen) {
      fill_round_rect(dc, segment, COLOR_ACCENT, COLOR_ACCENT, 6);
      label = COLOR_BACKDROP;
    } else if (hovered(CMD_SET_RESOLUTION, i)) {
      fill_round_rect(dc, segment, COLOR_SURFACE_RAISED, COLOR_BORDER_HOVER, 6);
    }
    draw_text(dc, NAMES[i], segment, FONT_CONTROL, label, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
    add_hit_region(segment, CMD_SET_RESOLUTION, i);
    record_item(segment, CMD_SET_RESOLUTION, i, UI_ROLE_CHOICE, i == chosen ? UI_ITEM_CHECKED : 0, NAMES[i], NULL);
  }
  return next;
}

static int draw_toggle_row(HDC dc, int L, int R, int y, int index, const SettingInfo& setting) {
  int next = draw_setting_label(dc, L, R, y, setting.title, setting.description);
  int32_t value = g_state.*setting.field;
  bool on = setting.inverted ? value == 0 : value != 0;
  RECT track = rect_of(R - px(44), y + px(4), R - px(44) + px(40), y + px(4) + px(22));
  COLORREF track_colour = on ? COLOR_ACCENT : COLOR_OUTLINE;
  // In a high-contrast theme the knob and an outlined track share the window
  // text colour, so the off track is hollow there.
  COLORREF track_fill = (!on && high_contrast()) ? COLOR_BACKDROP : track_colour;
  fill_round_rect(dc, track, track_fill, track_colour, 22);
  int knob_left = on ? track.right - px(19) : track.left + px(3);
  RECT knob = rect_of(knob_left, track.top + px(3), knob_left + px(16), track.top + px(19));
  COLORREF knob_colour = on ? COLOR_BACKDROP : COLOR_TEXT;
  fill_round_rect(dc, knob, knob_colour, knob_colour, 16);
  add_hit_region(rect_of(R - px(48), y + px(4), R, y + px(30)), CMD_TOGGLE_SETTING, index);
  record_item(rect_of(R - px(48), y + px(4), R, y + px(30)), CMD_TOGGLE_SETTING, index, UI_ROLE_SWITCH,
              on ? UI_ITEM_CHECKED : 0, setting.title, NULL);
  return next;
}

// A value box with a button at each end. The value is drawn by the caller's
// rectangle so that the level name can stop short of the two buttons.
static void draw_stepper(HDC dc, int C, int R, int y, const wchar_t* value, RECT value_rect, FontRole value_font,
                         COLORREF fill, COLORREF border, int32_t less_id, const wchar_t* less_glyph, int32_t more_id,
                         const wchar_t* more_glyph, UINT value_flags) {
  fill_round_rect(dc, rect_of(C, y + px(4), R, y + px(36)), fill, border, 6);
  int top = y + px(4) + px(3), bottom = y + px(36) - px(3);
  RECT less = rect_of(C + px(3), top, C + px(35), bottom);
  RECT more = rect_of(R - px(35), top, R - px(3), bottom);
  if (hovered(less_id, 0)) fill_round_rect(dc, less, COLOR_SURFACE_RAISED, COLOR_BORDER_HOVER, 6);
  if (hovered(more_id, 0)) fill_round_rect(dc, more, COLOR_SURFACE_RAISED, COLOR_BORDER_HOVER, 6);
  // After the hover fills: a long value may run into the buttons' margins.
  draw_text(dc, value, value_rect, value_font, COLOR_TEXT, value_flags);
  draw_text(dc, less_glyph, less, FONT_STRONG, COLOR_TEXT, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
  draw_text(dc, more_glyph, more, FONT_STRONG, COLOR_TEXT, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
  add_hit_region(less, less_id, 0);
  add_hit_region(more, more_id, 0);
}

// The level box holds the longest level name whole, so that it does not
// jump from level to level: between its buttons in the control font where
// that fits; else in the small font, running up to the arrows' glyphs (the
// buttons keep their places); else, for a font wider still, the box grows to
// the left.
struct LevelBox {
  int left;       // the box's left edge
  int inset;      // from either edge to the value's rectangle
  FontRole font;  // the value's font
};

static int widest_level_value(HDC dc, FontRole font) {
  const wchar_t* const* names = CATALOG[0].level_names;
  int widest = 0;
  if (g_ui.fonts[font]) SelectObject(dc, g_ui.fonts[font]);
  for (int level = 0; names && level < LEVEL_COUNT; level++) {
    wchar_t value[64];
    format_text(value, 64, L"%02d %ls", level, names[level]);
    SIZE size = {0, 0};
    GetTextExtentPoint32W(dc, value, (int)wcslen(value), &size);
    if (size.cx > widest) widest = size.cx;
  }
  return widest;
}

static LevelBox level_box(HDC dc, int C, int R) {
  if (widest_level_value(dc, FONT_CONTROL) <= (R - px(36)) - (C + px(36))) return {C, px(36), FONT_CONTROL};
  int small = widest_level_value(dc, FONT_SMALL);
  int inset = px(26);
  if (small <= (R - inset) - (C + inset)) return {C, inset, FONT_SMALL};
  return {R - small - 2 * inset, inset, FONT_SMALL};
}

int draw_settings_panel(HDC dc, int L, int R) {
  int T = px(24);
  int C = R - px(200);
  draw_text(dc, L"Settings", rect_of(L, T, R, T + px(40)), FONT_TITLE, COLOR_TEXT, DT_SINGLELINE);
  draw_button(dc, rect_of(R - px(90), T + px(4), R, T + px(36)), L"Done", CMD_CLOSE_SETTINGS, 0, false, true, 0);
  draw_text(dc, L"Apply the next time a game starts.", rect_of(L, T + px(52), R, T + px(52) + px(20)), FONT_BODY,
            COLOR_TEXT_SECONDARY, DT_SINGLELINE | DT_END_ELLIPSIS);

  int y = T + px(52) + px(34);
  // The table's order: the resolution, the five switches, the two steppers.
  int toggle = 0;
  for (const SettingInfo& setting : SETTING_TABLE) {
    if (setting.control == SETTING_CHOICE) y = draw_resolution_row(dc, L, R, C, y, setting);
    if (setting.control == SETTING_SWITCH) y = draw_toggle_row(dc, L, R, y, toggle++, setting);
  }

  // F9 capture length
  {
    const SettingInfo& setting = *setting_of(&LauncherState::capture_seconds);
    int next = draw_setting_label(dc, L, R, y, setting.title, setting.description);
    wchar_t value[64];
    format_text(value, 64, L"%d second%ls", (int)g_state.capture_seconds,
                g_state.capture_seconds == 1 ? L"" : L"s");
    draw_stepper(dc, C, R, y, value, rect_of(C, y + px(4), R, y + px(36)), FONT_CONTROL, COLOR_SURFACE, COLOR_OUTLINE,
                 CMD_CAPTURE_LESS, L"\u2212", CMD_CAPTURE_MORE, L"+", DT_CENTER | DT_SINGLELINE | DT_VCENTER);
    record_stepper(rect_of(C, y + px(4), R, y + px(36)), CMD_CAPTURE_LESS, CMD_CAPTURE_MORE, L"F9 capture length",
                   value);
    y = next;
  }

  // Start in a level (testing)
  {
    const SettingInfo& setting = *setting_of(&LauncherState::start_level);
    int next = draw_setting_label(dc, L, R, y, setting.title, setting.description);
    wchar_t value[64];
    int32_t level = g_state.start_level;
    bool chosen = level >= 0;
    // Both buildable rows share one level table, whichever entry is selected.
    const wchar_t* const* names = CATALOG[0].level_names;
    if (!chosen)
      copy_text(value, 64, L"Off");
    else
      format_text(value, 64, L"%02d %ls", (int)level,
                  (names && level < LEVEL_COUNT) ? names[level] : L"");
    LevelBox box = level_box(dc, C, R);
    draw_stepper(dc, box.left, R, y, value, rect_of(box.left + box.inset, y + px(4), R - box.inset, y + px(36)),
                 box.font, chosen ? COLOR_SURFACE_RAISED : COLOR_SURFACE, chosen ? COLOR_ACCENT : COLOR_OUTLINE,
                 CMD_LEVEL_PREV, L"\u2039", CMD_LEVEL_NEXT, L"\u203A",
                 DT_END_ELLIPSIS | DT_CENTER | DT_SINGLELINE | DT_VCENTER);
    record_stepper(rect_of(box.left, y + px(4), R, y + px(36)), CMD_LEVEL_PREV, CMD_LEVEL_NEXT,
                   L"Start in a level (testing)", value);
    y = next;
  }

  int foot = draw_setting_label(dc, L, R, y, L"Rebuild the game",
                                L"Downloads the latest build kit and builds the selected game from your disc again. "
                                L"Saves are kept.");
  draw_button(dc, rect_of(C, y + px(4), R, y + px(36)), L"Rebuild", CMD_REBUILD, 0, false,
              (entry_actions(g_state.selected) & ENTRY_REBUILD) != 0, ICON_REBUILD);

  // The version to quote in a bug report, quietly below everything else.
  int end = foot + px(18);
  draw_text(dc, L"" TELVAR_PRODUCT_NAME " " TELVAR_VERSION_TEXT, rect_of(L, foot, R, end), FONT_SMALL,
            COLOR_TEXT_MUTED, DT_SINGLELINE);
  return end;
}
