// Every command from the keyboard, through the real window: Tab and
// Shift+Tab over the items in reading order with the focus ring, Space and
// Enter as clicks, arrows inside the choice and the steppers, the list keys,
// the shortcuts (Delete and Escape ask first), the tooltip texts, and a walk
// with real keys through the X server.
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <utility>
#include <vector>

#include "access_fixture.h"
#include "app/commands.h"
#include "app/keyboard.h"
#include "app/tooltip.h"
#include "core/state.h"
#include "library/catalog.h"
#include "pipeline/job_status.h"
#include "ui/draw_kit.h"
#include "ui/main_view.h"
#include "ui/ui_state.h"
#include "ui/hit_regions.h"

typedef std::pair<int, int> Focus;

TEST_F(AccessTest, TabWalksTheEnabledItemsInReadingOrderAndShiftTabWalksBack) {
  fake_entries(2);
  g_state.selected = 0;
  paint();
  // Missing images: Play, Open log and Game folder are drawn disabled and
  // take no focus.
  const std::vector<Focus> expected = {
      {CMD_SELECT_ENTRY, 0}, {CMD_SELECT_ENTRY, 1}, {CMD_ADD_DISC, 0},     {CMD_SCAN_FOLDER, 0},
      {CMD_OPEN_SETTINGS, 0}, {CMD_REMOVE_ENTRY, 0},
  };
  std::vector<Focus> walked;
  for (size_t i = 0; i < expected.size() + 1; i++) {
    key(VK_TAB);
    walked.push_back(focus());
  }
  std::vector<Focus> cycle = expected;
  cycle.push_back(expected[0]);  // and round again
  EXPECT_EQ(walked, cycle);
  EXPECT_TRUE(g_ui.focus_visible);

  std::vector<Focus> back;
  for (size_t i = 0; i < expected.size(); i++) {
    key(VK_TAB, false, true);
    back.push_back(focus());
  }
  std::vector<Focus> reversed = {expected[5], expected[4], expected[3], expected[2], expected[1], expected[0]};
  EXPECT_EQ(back, reversed);
}

TEST_F(AccessTest, TheSettingsPanelIsWalkedTopToBottom) {
  fake_entries(1);
  g_state.selected = 0;
  g_state.settings_open = true;
  paint();
  std::vector<Focus> walked;
  for (int i = 0; i < 16; i++) {
    key(VK_TAB);
    walked.push_back(focus());
  }
  // Row, Add, Scan, then the panel: Done, the two segments, five switches,
  // the two steppers; Rebuild is disabled for a missing image.
  const std::vector<Focus> expected = {
      {CMD_SELECT_ENTRY, 0},   {CMD_ADD_DISC, 0},       {CMD_SCAN_FOLDER, 0},    {CMD_CLOSE_SETTINGS, 0},
      {CMD_SET_RESOLUTION, 0}, {CMD_SET_RESOLUTION, 1}, {CMD_TOGGLE_SETTING, 0}, {CMD_TOGGLE_SETTING, 1},
      {CMD_TOGGLE_SETTING, 2}, {CMD_TOGGLE_SETTING, 3}, {CMD_TOGGLE_SETTING, 4}, {CMD_CAPTURE_MORE, 0},
      {CMD_LEVEL_NEXT, 0},     {CMD_SELECT_ENTRY, 0},   {CMD_ADD_DISC, 0},       {CMD_SCAN_FOLDER, 0},
  };
  EXPECT_EQ(walked, expected);
  // Reading order: within the main pane every next stop is lower or to the right.
  for (int i = 4; i < 13; i++) {
    const UiItem& a = g_ui.items[find_item(expected[i - 1].first, expected[i - 1].second)];
    const UiItem& b = g_ui.items[find_item(expected[i].first, expected[i].second)];
    EXPECT_TRUE(b.rect.top > a.rect.top || (b.rect.top == a.rect.top && b.rect.left > a.rect.left)) << i;
  }
}

// The colour of a pixel of a fresh paint of the window into memory.
static COLORREF painted_pixel(HWND window, int x, int y) {
  RECT client;
  GetClientRect(window, &client);
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ old = SelectObject(memory, bitmap);
  paint_window(memory, &client);
  COLORREF pixel = GetPixel(memory, x, y);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  return pixel;
}

TEST_F(AccessTest, TheFocusRingShowsAfterAKeyAndHidesAtTheNextClick) {
  fake_entries(1);
  g_state.selected = 0;
  paint();
  int settings = find_item(CMD_OPEN_SETTINGS, 0);
  ASSERT_GE(settings, 0);
  RECT button = g_ui.items[settings].rect;
  // The ring's left edge, px(3) outside the button, half way down.
  int x = button.left - px(3), y = (button.top + button.bottom) / 2;
  EXPECT_NE(painted_pixel(window, x, y), (COLORREF)COLOR_ACCENT_HOVER) << "no ring before any key";

  for (int tabs = 0; tabs < 10 && focus() != Focus(CMD_OPEN_SETTINGS, 0); tabs++) key(VK_TAB);
  ASSERT_EQ(focus(), Focus(CMD_OPEN_SETTINGS, 0)) << "Tab never reached Settings";
  EXPECT_EQ(painted_pixel(window, x, y), (COLORREF)COLOR_ACCENT_HOVER);

  // A click elsewhere hides the ring; Tab goes on from what was clicked.
  int add = find_item(CMD_ADD_DISC, 0);
  ASSERT_GE(add, 0);
  RECT at = g_ui.items[add].rect;
  SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, point(at.left + 2, at.top + 2));
  EXPECT_FALSE(g_ui.focus_visible);
  EXPECT_NE(painted_pixel(window, x, y), (COLORREF)COLOR_ACCENT_HOVER);
  ReleaseCapture();
  g_ui.pressed_id = 0;
  key(VK_TAB);
  EXPECT_EQ(focus(), Focus(CMD_SCAN_FOLDER, 0));
  EXPECT_TRUE(g_ui.focus_visible);
}

TEST_F(AccessTest, SpaceAndEnterDoWhatAClickOnTheFocusedItemDoes) {
  fake_entries(2);
  g_state.selected = 0;
  g_state.settings_open = true;
  struct Case {
    const char* name;
    WPARAM vk;
    Focus on;
    std::function<bool()> done;
  } cases[] = {
      {"Space on the VSync switch", VK_SPACE, {CMD_TOGGLE_SETTING, 0}, [] { return g_state.vsync == 0; }},
      {"Enter on Upscaled", VK_RETURN, {CMD_SET_RESOLUTION, 1}, [] { return g_state.upscaled == 1; }},
      {"Space on the capture stepper", VK_SPACE, {CMD_CAPTURE_MORE, 0}, [] { return g_state.capture_seconds == 6; }},
      {"Enter on Done", VK_RETURN, {CMD_CLOSE_SETTINGS, 0}, [] { return !g_state.settings_open; }},
      {"Space on the second row", VK_SPACE, {CMD_SELECT_ENTRY, 1}, [] { return g_state.selected == 1; }},
  };
  g_state.vsync = 1;
  g_state.upscaled = 0;
  g_state.capture_seconds = 5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    paint();
    set_focus(c.on.first, c.on.second);
    arm_save_probe();
    key(c.vk);
    EXPECT_TRUE(c.done());
    EXPECT_TRUE(saved());
  }
  // Without the keyboard in use, Space does nothing and Enter only plays.
  g_ui.focus_visible = false;
  g_state.settings_open = true;
  paint();
  set_focus(CMD_TOGGLE_SETTING, 1);
  g_ui.focus_visible = false;
  int32_t before = g_state.no_gs_thread;
  key(VK_SPACE);
  key(VK_RETURN);
  EXPECT_EQ(g_state.no_gs_thread, before);
}

TEST_F(AccessTest, EnterOnTheSelectedRowPlaysItsGame) {
  int built = built_entry();
  ASSERT_GE(built, 0);
  g_state.minimize = 0;
  g_state.selected = -1;
  paint();
  set_focus(CMD_SELECT_ENTRY, built);
  key(VK_RETURN);  // selects
  EXPECT_EQ(g_state.selected, built);
  EXPECT_EQ(g_state.running_entry, -1);
  key(VK_RETURN);  // plays, once the worker has read the disc again
  EXPECT_TRUE(pump_until([&] { return game_ran(); }, 10000));
  EXPECT_TRUE(pump_until([] { return g_state.running_entry < 0; }, 10000));
}

TEST_F(AccessTest, ArrowsMoveInsideTheChoiceAndTheSteppers) {
  fake_entries(1);
  g_state.selected = 0;
  g_state.settings_open = true;
  g_state.upscaled = 0;
  g_state.capture_seconds = 5;
  g_state.start_level = -1;
  paint();
  set_focus(CMD_SET_RESOLUTION, 0);
  key(VK_RIGHT);
  EXPECT_EQ(g_state.upscaled, 1);
  EXPECT_EQ(focus(), Focus(CMD_SET_RESOLUTION, 1));
  key(VK_LEFT);
  EXPECT_EQ(g_state.upscaled, 0);
  EXPECT_EQ(focus(), Focus(CMD_SET_RESOLUTION, 0));

  set_focus(CMD_CAPTURE_MORE, 0);
  key(VK_LEFT);
  key(VK_LEFT);
  EXPECT_EQ(g_state.capture_seconds, 3);
  key(VK_RIGHT);
  EXPECT_EQ(g_state.capture_seconds, 4);

  set_focus(CMD_LEVEL_NEXT, 0);
  key(VK_LEFT);  // from Off back to the last level
  EXPECT_EQ(g_state.start_level, LEVEL_COUNT - 1);
  key(VK_RIGHT);
  EXPECT_EQ(g_state.start_level, -1);
  EXPECT_TRUE(g_state.settings_open) << "arrows on a control leave the panel open";

  // On a button, Left and Right do nothing.
  set_focus(CMD_CLOSE_SETTINGS, 0);
  key(VK_RIGHT);
  EXPECT_TRUE(g_state.settings_open);
}

TEST_F(AccessTest, HomeEndAndThePageKeysMoveTheSelectionAndTheFocusFollows) {
  fake_entries(30);
  g_state.selected = 5;
  paint();
  RECT client;
  GetClientRect(window, &client);
  int page = (client.bottom - px(96) - px(116)) / (px(68) + px(6));
  ASSERT_GT(page, 1);
  set_focus(CMD_SELECT_ENTRY, 5);
  struct Case {
    WPARAM vk;
    int expected;
  } cases[] = {{VK_END, 29}, {VK_HOME, 0}, {VK_NEXT, page}, {VK_NEXT, 2 * page}, {VK_PRIOR, page}, {VK_DOWN, page + 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vk);
    arm_save_probe();
    key(c.vk);
    EXPECT_EQ(g_state.selected, c.expected);
    EXPECT_EQ(g_ui.focus_arg, c.expected);
    EXPECT_TRUE(saved());
  }
}

TEST_F(AccessTest, ShortcutsDoWhatTheirEnabledButtonsDo) {
  fake_entries(1);
  g_state.selected = 0;
  paint();
  key(VK_F2);
  EXPECT_TRUE(g_state.settings_open);
  g_state.settings_open = false;
  paint();
  key(VK_OEM_COMMA, true);
  EXPECT_TRUE(g_state.settings_open);
  key(VK_ESCAPE);
  EXPECT_FALSE(g_state.settings_open);

  // Ctrl+O and Ctrl+Shift+O open the dialogs of Add disc image and Scan a folder.
  for (bool shift : {false, true}) {
    SCOPED_TRACE(shift);
    DialogSeen seen = with_dialog([&] { key('O', true, shift); },
                                  [](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_TRUE(seen.found);
  }
  // O without Ctrl is no shortcut.
  DialogSeen none = with_dialog([&] { key('O'); }, [](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
  EXPECT_FALSE(none.found);

  // F5 on a missing image: Play is disabled, so nothing starts.
  key(VK_F5);
  EXPECT_EQ(g_state.running_entry, -1);
  EXPECT_EQ(g_job.running, 0);
}

TEST_F(AccessTest, F5PlaysABuiltGame) {
  int built = built_entry();
  g_state.minimize = 0;
  g_state.selected = built;
  paint();
  key(VK_F5);
  EXPECT_TRUE(pump_until([&] { return game_ran(); }, 10000));
  EXPECT_TRUE(pump_until([] { return g_state.running_entry < 0; }, 10000));
}

static void answer(HWND box, int button) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
}

TEST_F(AccessTest, DeleteRemovesTheSelectedDiscOnlyAfterAYes) {
  int built = built_entry();
  g_state.selected = built;
  paint();
  DialogSeen seen = with_dialog([&] { key(VK_DELETE); }, [](HWND box) { answer(box, IDNO); });
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title, L"Project Telvar");
  EXPECT_NE(seen.text.find(L"from the library?"), std::wstring::npos) << std::string(seen.text.begin(), seen.text.end());
  EXPECT_NE(seen.text.find(g_ui.items[find_item(CMD_SELECT_ENTRY, built)].name), std::wstring::npos);
  EXPECT_EQ(g_state.entry_count, 1);

  seen = with_dialog([&] { key(VK_DELETE); }, [](HWND box) { answer(box, IDYES); });
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(g_state.entry_count, 0);
  // Nothing selected, no Remove button: Delete asks nothing.
  seen = with_dialog([&] { key(VK_DELETE); }, [](HWND box) { answer(box, IDYES); });
  EXPECT_FALSE(seen.found);
}

TEST_F(AccessTest, EscapeStopsARunningBuildOnlyAfterAYes) {
  fake_entries(1);
  g_state.selected = 0;
  g_job.running = 1;  // as start_build leaves it while the worker builds this entry
  g_job.entry_index = 0;
  paint();
  ASSERT_GE(find_item(CMD_CANCEL_BUILD, 0), 0);
  DialogSeen seen = with_dialog([&] { key(VK_ESCAPE); }, [](HWND box) { answer(box, IDNO); });
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.text, L"Stop the build? It can be started again later.");
  EXPECT_EQ(g_job.cancel_requested, 0);
  seen = with_dialog([&] { key(VK_ESCAPE); }, [](HWND box) { answer(box, IDYES); });
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(g_job.cancel_requested, 1);
  g_job.running = 0;
}

TEST_F(AccessTest, TooltipsNameTheShortcutAndWhyAButtonIsDisabled) {
  fake_entries(1);
  g_state.selected = 0;
  paint();
  struct Case {
    int id;
    const wchar_t* expected;
  } cases[] = {
      {CMD_ADD_DISC, L"Add disc image (Ctrl+O)"},
      {CMD_SCAN_FOLDER, L"Scan a folder (Ctrl+Shift+O)"},
      {CMD_OPEN_SETTINGS, L"Settings (Ctrl+, or F2)"},
      {CMD_REMOVE_ENTRY, L"Remove (Delete)"},
      {CMD_OPEN_LOG, L"Open log\nThis disc has no game that keeps a log."},
      {CMD_PRIMARY_ACTION, L"Play (F5)\nThis disc has no game to build or play yet."},
  };
  for (const Case& c : cases) {
    int i = find_item(c.id, 0);
    ASSERT_GE(i, 0) << c.id;
    wchar_t text[256];
    EXPECT_TRUE(tooltip_text(g_ui.items[i], text, 256));
    EXPECT_STREQ(text, c.expected);
  }
}

// The tooltip control's one tool follows the item under the pointer, and the
// text it asks for is that item's.
TEST_F(AccessTest, TheTooltipFollowsThePointerOverEnabledAndDisabledButtons) {
  fake_entries(1);
  g_state.selected = 0;
  paint();
  HWND tip = tooltip_window();
  ASSERT_TRUE(tip != NULL && IsWindow(tip));
  EXPECT_EQ(GetWindow(tip, GW_OWNER), window);
  struct Case {
    int id;
    const wchar_t* expected;  // null: over no item with a tip
  } cases[] = {
      {CMD_ADD_DISC, L"Add disc image (Ctrl+O)"},
      {CMD_OPEN_LOG, L"Open log\nThis disc has no game that keeps a log."},  // disabled: no hit region
      {CMD_SELECT_ENTRY, NULL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    int i = find_item(c.id, 0);
    ASSERT_GE(i, 0);
    RECT item = g_ui.items[i].rect;
    SendMessageW(window, WM_MOUSEMOVE, 0, point(item.left + 3, item.top + 3));
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.hwnd = window;
    tool.uId = 1;
    ASSERT_TRUE(SendMessageW(tip, TTM_GETTOOLINFOW, 0, (LPARAM)&tool));
    NMTTDISPINFOW ask = {};
    ask.hdr.hwndFrom = tip;
    ask.hdr.code = TTN_GETDISPINFOW;
    SendMessageW(window, WM_NOTIFY, 0, (LPARAM)&ask);
    ASSERT_TRUE(ask.lpszText != NULL);
    if (c.expected) {
      EXPECT_TRUE(EqualRect(&tool.rect, &item));
      EXPECT_STREQ(ask.lpszText, c.expected);
    } else {
      EXPECT_TRUE(IsRectEmpty(&tool.rect));
      EXPECT_STREQ(ask.lpszText, L"");
    }
  }
}

TEST_F(AccessTest, ListKeysScrollTheSelectedRowJustIntoView) {
  fake_entries(30);
  g_state.selected = 0;
  g_ui.scroll_offset = 0;
  paint();
  RECT client;
  GetClientRect(window, &client);
  // The list's clip area and the rows, in window pixels: the header, the
  // "LIBRARY" caption, rows of 68 with gaps of 6, the footer below.
  const int clip_top = px(64) + px(30), clip_bottom = client.bottom - px(116);
  const int pitch = px(68) + px(6);
  auto row_top = [&](int row) { return px(64) + px(32) + row * pitch - g_ui.scroll_offset; };
  auto inside = [&](int row) { return row_top(row) >= clip_top && row_top(row) + px(68) <= clip_bottom; };
  const WPARAM keys[] = {VK_END, VK_HOME, VK_NEXT, VK_NEXT, VK_NEXT, VK_UP, VK_PRIOR, VK_PRIOR,
                         VK_DOWN, VK_DOWN, VK_END, VK_UP, VK_UP, VK_HOME, VK_DOWN};
  for (size_t i = 0; i < sizeof keys / sizeof keys[0]; i++) {
    SCOPED_TRACE(testing::Message() << "key " << i << " from row " << g_state.selected << " offset "
                                    << g_ui.scroll_offset);
    int before = g_ui.scroll_offset;
    key(keys[i]);
    int row = g_state.selected;
    EXPECT_TRUE(inside(row)) << "row " << row << " top " << row_top(row);
    // Just enough: an offset that moved leaves the row at the edge it came in by.
    int after = g_ui.scroll_offset;
    g_ui.scroll_offset = before;
    bool was_inside = inside(row);
    g_ui.scroll_offset = after;
    if (was_inside)
      EXPECT_EQ(after, before) << "the row was in view already";
    else if (after > before)
      EXPECT_EQ(row_top(row) + px(68), clip_bottom);
    else
      EXPECT_EQ(row_top(row), clip_top);
    EXPECT_LE(after, scroll_limit(client.bottom) > 0 ? scroll_limit(client.bottom) : 0);
  }
  // End shows the last row at the clip area's bottom edge.
  key(VK_END);
  EXPECT_EQ(row_top(29) + px(68), clip_bottom);
}

// ---- A window lower than the settings panel ------------------------------------

// In the smallest window the panel runs past the bottom. Tab still reaches
// every control, and each one it lands on is scrolled into sight, whole and
// clickable where it shows; Shift+Tab back to the top brings the top back.
TEST_F(AccessTest, TabBringsEachControlOfATallPanelIntoSight) {
  fake_entries(1);
  g_state.selected = 0;
  g_state.settings_open = true;
  set_client_size(1100, 560);
  RECT client;
  GetClientRect(window, &client);
  ASSERT_EQ(client.bottom, 560) << "the smallest client height";
  paint();
  ASSERT_GT(g_ui.pane_content_height, client.bottom) << "the panel is taller than the window";
  bool scrolled = false;
  for (int i = 0; i < 20; i++) {
    key(VK_TAB);
    paint();
    const UiItem* item = focused_item();
    ASSERT_NE(item, nullptr) << "after Tab " << i;
    if (item->rect.left < px(300)) continue;  // the sidebar does not scroll
    EXPECT_GE(item->rect.top, 0) << "item " << item->id << " after Tab " << i;
    EXPECT_LE(item->rect.bottom, client.bottom) << "item " << item->id << " after Tab " << i;
    EXPECT_FALSE(item->flags & UI_ITEM_OFFSCREEN);
    // A click where the focused control shows reaches it (a stepper's more
    // button, at its right end, carries the stepper's command).
    int x = item->role == UI_ROLE_STEPPER ? item->rect.right - px(12) : (item->rect.left + item->rect.right) / 2;
    const HitRegion* at = hit_test(x, (item->rect.top + item->rect.bottom) / 2);
    ASSERT_NE(at, nullptr) << "item " << item->id;
    EXPECT_EQ(at->id, item->id);
    if (g_ui.pane_scroll > 0) scrolled = true;
  }
  EXPECT_TRUE(scrolled) << "the last controls lie below a 560-pixel window";
  // Back up to "Done", at the panel's top.
  for (int i = 0; i < 20 && focus().first != CMD_CLOSE_SETTINGS; i++) key(VK_TAB, false, true);
  ASSERT_EQ(focus().first, CMD_CLOSE_SETTINGS);
  EXPECT_EQ(g_ui.pane_scroll, 0);
}

// Page Down, End, Page Up and Home scroll the panel while the focus is in
// it, and the wheel scrolls it under the pointer; none of them leaves the
// panel or changes the selection.
TEST_F(AccessTest, PageKeysAndTheWheelScrollATallPanel) {
  fake_entries(3);
  g_state.selected = 1;
  g_state.settings_open = true;
  set_client_size(1100, 560);
  paint();
  const int limit = g_ui.pane_content_height - 560;
  ASSERT_GT(limit, 0);
  const int page = 560 - 48;
  struct Step {
    WPARAM key;
    int expected;
  } steps[] = {{VK_NEXT, page < limit ? page : limit}, {VK_END, limit}, {VK_NEXT, limit},
               {VK_PRIOR, limit - page > 0 ? limit - page : 0}, {VK_HOME, 0}, {VK_PRIOR, 0}};
  for (const Step& s : steps) {
    key(s.key);
    EXPECT_EQ(g_ui.pane_scroll, s.expected) << "key " << s.key;
    EXPECT_TRUE(g_state.settings_open);
    EXPECT_EQ(g_state.selected, 1);
  }
  // The wheel over the pane (in screen coordinates, as the message carries them).
  POINT over_pane = {700, 300};
  ClientToScreen(window, &over_pane);
  SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)-120), MAKELPARAM(over_pane.x, over_pane.y));
  EXPECT_EQ(g_ui.pane_scroll, limit < px(60) ? limit : px(60));
  EXPECT_EQ(g_ui.scroll_offset, 0) << "the list stays";
  // Closing the panel and opening it again starts at its top.
  key(VK_ESCAPE);
  paint();
  g_state.settings_open = true;
  paint();
  EXPECT_EQ(g_ui.pane_scroll, 0);
}

// What a key does shows at once: a shortcut, Space or Enter on the focused
// control and an arrow inside a choice or a stepper repaint the window as a
// click does. (They used to change the state and leave the last frame on
// screen until something else repainted, so a key that came next acted on
// controls that were no longer what the user saw: F2 then End opened the
// panel and closed it again, selecting the last disc.)
TEST_F(AccessTest, WhatAKeyDoesIsPaintedAtOnce) {
  fake_entries(2);
  g_state.selected = 0;
  struct Step {
    const char* what;
    std::function<void()> before;  // with the window painted
    WPARAM vk;
    std::function<bool()> shown;  // true once the paint shows the result
  } steps[] = {
      {"F2 opens the panel", [] {}, VK_F2, [] { return find_item(CMD_CLOSE_SETTINGS, 0) >= 0; }},
      {"Right chooses Upscaled", [] { g_state.upscaled = 0; set_focus(CMD_SET_RESOLUTION, 0); }, VK_RIGHT,
       [] {
         int32_t i = find_item(CMD_SET_RESOLUTION, 1);
         return i >= 0 && (g_ui.items[i].flags & UI_ITEM_CHECKED);
       }},
      {"Space turns VSync off", [] { g_state.vsync = 1; set_focus(CMD_TOGGLE_SETTING, 0); }, VK_SPACE,
       [] {
         int32_t i = find_item(CMD_TOGGLE_SETTING, 0);
         return i >= 0 && !(g_ui.items[i].flags & UI_ITEM_CHECKED);
       }},
      {"Right steps the capture length", [] { g_state.capture_seconds = 3; set_focus(CMD_CAPTURE_MORE, 0); }, VK_RIGHT,
       [] {
         int32_t i = find_item(CMD_CAPTURE_MORE, 0);
         return i >= 0 && wcscmp(g_ui.items[i].detail, L"4 seconds") == 0;
       }},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    s.before();
    paint();
    ASSERT_FALSE(s.shown()) << "shown before the key";
    SendMessageW(window, WM_KEYDOWN, s.vk, 1);
    UpdateWindow(window);  // paints only what the key invalidated
    EXPECT_TRUE(s.shown());
  }
}
