// The real launcher window under Xvfb: keys, the wheel, mouse clicks through
// hit regions, every command with its save or absence of save, closing, the
// messages of the worker threads, and the start-up of ProjectTelvar.exe.
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/state.h"
#include "app/window.h"
#include "pipeline/folder_lock.h"
#include "ui/draw_kit.h"
#include "ui/main_view.h"
#include "library/catalog.h"
#include "library/identify_worker.h"
#include "support/window_harness.h"
#include "ui/ui_state.h"
#include "pipeline/job_status.h"
#include "ui/hit_regions.h"

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = open_launcher_window(L"window");
    window = g_state.main_window;
    ASSERT_TRUE(window != NULL) << "no window: is DISPLAY an X server?";
    SetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", NULL);
    SetEnvironmentVariableW(L"TELVAR_STANDIN_HOLD", NULL);
  }
  void TearDown() override {
    // A game started by a test ends on its own; wait so its exit is handled here.
    pump_until([] { return g_state.running_entry < 0; }, 10000);
    close_launcher_window();
  }
  // n entries whose images do not exist.
  void fake_entries(int n) {
    g_state.entry_count = 0;
    for (int i = 0; i < n; i++) {
      LibraryEntry& e = g_state.entries[i];
      memset(&e, 0, sizeof e);
      wcscpy(e.path, join(folder, L"disc" + std::to_wstring(i) + L".iso").c_str());
      e.catalog_row = -1;
      e.status = DISC_NOT_FOUND;
    }
    g_state.entry_count = n;
  }
  LRESULT send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return SendMessageW(window, message, wparam, lparam);
  }
  void press(int x, int y) { send(WM_LBUTTONDOWN, MK_LBUTTON, point(x, y)); }
  void release(int x, int y) { send(WM_LBUTTONUP, 0, point(x, y)); }
  std::wstring record_path() { return join(game_dir, L"game_record.txt"); }
  // A PAL disc whose game is built (the stand-in), as library entry 0.
  int built_entry() {
    game_dir = install_standin_game(folder);
    std::wstring disc = join(folder, L"pal.iso");
    write_disc(disc, "SXPE_100.01");
    return add_entry(disc);
  }
  // An NTSC-U disc whose game is not built.
  int unbuilt_entry() {
    std::wstring disc = join(folder, L"ntsc.iso");
    write_disc(disc, "SXUS_100.02");
    return add_entry(disc);
  }
  std::wstring folder, game_dir;
  HWND window = NULL;
};

// ---- Keys ------------------------------------------------------------------

TEST_F(WindowTest, UpAndDownMoveTheSelectionWithinTheLibraryAndSave) {
  struct Case {
    int count, selected;
    WPARAM key;
    int expected;
    bool saves;
  } cases[] = {
      {3, -1, VK_DOWN, 0, true},  {3, -1, VK_UP, 0, true},  {3, 0, VK_UP, 0, true},
      {3, 1, VK_DOWN, 2, true},   {3, 2, VK_DOWN, 2, true}, {3, 2, VK_UP, 1, true},
      {3, -7, VK_DOWN, 0, true},  {0, -1, VK_DOWN, -1, false}, {0, -1, VK_UP, -1, false},
      // The lowest value a settings file can hold: one less must still mean "before the first".
      {3, INT32_MIN, VK_UP, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "count " << c.count << " selected " << c.selected << " key " << c.key);
    fake_entries(c.count);
    g_state.selected = c.selected;
    g_state.settings_open = true;
    wcscpy(g_state.status_text, L"earlier message");
    arm_save_probe();
    send(WM_KEYDOWN, c.key);
    EXPECT_EQ(g_state.selected, c.expected);
    EXPECT_EQ(saved(), c.saves);
    if (c.saves) {
      EXPECT_FALSE(g_state.settings_open);
      EXPECT_STREQ(g_state.status_text, L"");
      EXPECT_EQ(ini_string(L"library", L"selected"), std::to_wstring(c.expected));
    } else {
      EXPECT_TRUE(g_state.settings_open);
      EXPECT_STREQ(g_state.status_text, L"earlier message");
    }
  }
}

TEST_F(WindowTest, EnterStartsABuiltGameAndNothingElse) {
  int unbuilt = unbuilt_entry();
  int built = built_entry();
  ASSERT_GE(unbuilt, 0);
  ASSERT_GE(built, 0);
  ASSERT_EQ(g_state.entries[built].status, DISC_OK);
  g_state.minimize = 0;

  for (int selected : {-1, unbuilt}) {
    SCOPED_TRACE(selected);
    g_state.selected = selected;
    wcscpy(g_state.status_text, L"kept");
    arm_save_probe();
    send(WM_KEYDOWN, VK_RETURN);
    pump_for(200);
    EXPECT_EQ(g_state.running_entry, -1);
    EXPECT_EQ(g_job.running, 0);       // never a build
    EXPECT_EQ(g_job.entry_index, -1);
    EXPECT_STREQ(g_state.status_text, L"kept");
    EXPECT_FALSE(saved());
  }
  EXPECT_EQ(GetFileAttributesW(record_path().c_str()), INVALID_FILE_ATTRIBUTES);

  g_state.selected = built;
  send(WM_KEYDOWN, VK_RETURN);
  // The disc is read again on the worker first; the game starts when it answers.
  // The stand-in game may be gone again before a check of running_entry: its record shows it ran.
  EXPECT_TRUE(pump_until([&] { return GetFileAttributesW(record_path().c_str()) != INVALID_FILE_ATTRIBUTES; }, 10000));
  EXPECT_TRUE(pump_until([] { return g_state.running_entry < 0; }, 10000));
  EXPECT_NE(read_bytes(record_path()).find("command_line="), std::string::npos);
}

TEST_F(WindowTest, EscapeClosesTheSettingsPanelOnly) {
  fake_entries(2);
  g_state.selected = 1;
  for (bool open : {true, false}) {
    g_state.settings_open = open;
    arm_save_probe();
    send(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_FALSE(g_state.settings_open);
    EXPECT_EQ(g_state.selected, 1);
    EXPECT_FALSE(saved());
  }
  // Other keys do nothing at all.
  g_state.settings_open = true;
  send(WM_KEYDOWN, 'A');
  send(WM_KEYDOWN, VK_SPACE);
  EXPECT_TRUE(g_state.settings_open);
  EXPECT_EQ(g_state.selected, 1);
}

// ---- Wheel -----------------------------------------------------------------

TEST_F(WindowTest, WheelScrollsByWholeNotchesBetweenZeroAndTheListEnd) {
  ASSERT_EQ(g_state.dpi_scale, 1.0f);
  RECT client;
  GetClientRect(window, &client);
  // List top 96 + footer 116 + 64 rows of 68 and gaps of 6, less the client height.
  const int m = 96 + 116 + 74 * 64 - client.bottom;
  ASSERT_GT(m, 600);
  struct Case {
    int count, start;
    std::vector<int> deltas;
    int expected;
  } cases[] = {
      {64, 0, {120}, 0},            // up at the top stays at the top
      {64, 0, {-240}, 120},         // two notches down
      {64, 0, {-119}, 0},           // a partial notch scrolls nothing
      {64, 0, {-100, -100}, 0},     // and partial notches do not add up
      {64, 60, {-200}, 120},        // one whole notch of -200
      {64, 300, {360}, 120},        // three notches up
      {64, 300, {480, 120}, 0},     // never above the top
      {64, 0, {-24000}, m},         // never past the list end (200 notches)
      {64, m, {-120}, m},
      {3, 50, {-60}, 0},            // the list fits: every event sets 0
      {3, 0, {-240}, 0},
      {0, 0, {-240}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "count " << c.count << " start " << c.start << " first delta " << c.deltas[0]);
    fake_entries(c.count);
    g_ui.scroll_offset = c.start;
    for (int delta : c.deltas) send(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)delta), point(500, 500));
    EXPECT_EQ(g_ui.scroll_offset, c.expected);
  }
}

TEST_F(WindowTest, ARemovalBringsAnOffsetPastTheListEndBackToIt) {
  // Removals leave the offset the wheel set; the next paint must not show an
  // empty list (nor the empty-library picture) with entries still in it. The
  // removal brings the offset back, and the paint that follows keeps it.
  RECT client;
  GetClientRect(window, &client);
  const int m = 96 + 116 + 74 * 64 - client.bottom;
  struct Case {
    const char* what;
    int count, start, expected;
  } cases[] = {
      {"at the end, nothing changed", 64, m, m},
      {"entries removed down to five, which fit", 5, m, 0},
      {"entries removed down to forty", 40, m, m - 74 * 24},
      {"an offset inside the list stays", 40, 100, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake_entries(c.count + 1);  // the last one goes
    g_state.selected = c.count;
    g_ui.scroll_offset = c.start;
    dispatch_command(CMD_REMOVE_ENTRY, 0);
    ASSERT_EQ(g_state.entry_count, c.count);
    InvalidateRect(window, NULL, FALSE);
    UpdateWindow(window);
    EXPECT_EQ(g_ui.scroll_offset, c.expected);
  }
}

TEST_F(WindowTest, ATallerWindowBringsAnOffsetPastTheListEndBackToIt) {
  fake_entries(20);
  RECT client;
  GetClientRect(window, &client);
  const int m = 96 + 116 + 74 * 20 - client.bottom;
  ASSERT_GT(m, 200);
  g_ui.scroll_offset = m;
  RECT frame;
  GetWindowRect(window, &frame);
  SetWindowPos(window, NULL, 0, 0, frame.right - frame.left, frame.bottom - frame.top + 100,
               SWP_NOMOVE | SWP_NOZORDER);
  GetClientRect(window, &client);
  const int expected = 96 + 116 + 74 * 20 - client.bottom;
  ASSERT_LT(expected, m) << "the window grew";
  EXPECT_EQ(g_ui.scroll_offset, expected);
  // A paint draws the offset it finds and changes none.
  g_ui.scroll_offset = m;
  InvalidateRect(window, NULL, FALSE);
  UpdateWindow(window);
  EXPECT_EQ(g_ui.scroll_offset, m);
}

// The list's bar: dragging its thumb moves the list in proportion, a press on
// the track below or above the thumb moves it a page, and neither selects a
// row or runs a command.
TEST_F(WindowTest, TheListsBarIsDraggedAndPagedWithTheMouse) {
  fake_entries(64);
  g_state.selected = -1;
  InvalidateRect(window, NULL, FALSE);
  UpdateWindow(window);
  RECT client;
  GetClientRect(window, &client);
  ScrollBar bar;
  ASSERT_TRUE(list_scroll_bar(client.bottom, &bar));
  const HitRegion* grip = hit_test(bar.track.left + 1, bar.thumb.top + 2);
  ASSERT_NE(grip, nullptr);
  EXPECT_EQ(grip->id, SCROLL_BAR_LIST);

  int x = (bar.track.left + bar.track.right) / 2, y = (bar.thumb.top + bar.thumb.bottom) / 2;
  int travel = (bar.track.bottom - bar.track.top) - (bar.thumb.bottom - bar.thumb.top);
  press(x, y);
  send(WM_MOUSEMOVE, MK_LBUTTON, point(x, y + travel / 2));
  EXPECT_NEAR(g_ui.scroll_offset, bar.limit / 2, bar.limit / travel + 1);
  send(WM_MOUSEMOVE, MK_LBUTTON, point(x, y + travel * 3));
  EXPECT_EQ(g_ui.scroll_offset, bar.limit) << "never past the list's end";
  release(x, y + travel * 3);
  EXPECT_EQ(g_ui.drag_bar, 0);
  // Moving without the button no longer drags.
  send(WM_MOUSEMOVE, 0, point(x, y));
  EXPECT_EQ(g_ui.scroll_offset, bar.limit);

  // A press on the track above the thumb pages up, one below pages down.
  UpdateWindow(window);
  ASSERT_TRUE(list_scroll_bar(client.bottom, &bar));
  int page = bar.track.bottom - bar.track.top;
  press(x, bar.track.top + 1);
  release(x, bar.track.top + 1);
  EXPECT_EQ(g_ui.scroll_offset, bar.limit - page);
  UpdateWindow(window);
  ASSERT_TRUE(list_scroll_bar(client.bottom, &bar));
  press(x, bar.track.bottom - 1);
  release(x, bar.track.bottom - 1);
  EXPECT_EQ(g_ui.scroll_offset, bar.limit);
  EXPECT_EQ(g_state.selected, -1) << "no row was selected";
}

// ---- Mouse -----------------------------------------------------------------

static const RECT BUTTON = {10, 10, 110, 40};
static const RECT BUTTON_MOVED = {10, 200, 110, 230};
static const RECT ROW2 = {10, 60, 110, 90};
static const RECT ROW3 = {10, 100, 110, 130};

TEST_F(WindowTest, HoverFollowsThePointerWithTheHandCursor) {
  set_regions({{BUTTON, CMD_OPEN_SETTINGS, 0}, {ROW2, CMD_SELECT_ENTRY, 2}});
  send(WM_MOUSEMOVE, 0, point(20, 20));
  EXPECT_EQ(g_ui.hovered_id, CMD_OPEN_SETTINGS);
  EXPECT_EQ(g_ui.hovered_arg, 0);
  EXPECT_EQ(GetCursor(), LoadCursorW(NULL, IDC_HAND));
  send(WM_MOUSEMOVE, 0, point(20, 70));
  EXPECT_EQ(g_ui.hovered_id, CMD_SELECT_ENTRY);
  EXPECT_EQ(g_ui.hovered_arg, 2);
  send(WM_MOUSEMOVE, 0, point(400, 400));  // onto empty space
  EXPECT_EQ(g_ui.hovered_id, 0);
  EXPECT_EQ(g_ui.hovered_arg, 0);
  EXPECT_EQ(GetCursor(), LoadCursorW(NULL, IDC_ARROW));

  send(WM_MOUSEMOVE, 0, point(20, 70));
  send(WM_MOUSELEAVE);
  EXPECT_EQ(g_ui.hovered_id, 0);
  EXPECT_EQ(g_ui.hovered_arg, 2);  // only the id is cleared
}

TEST_F(WindowTest, AClickIsAPressAndAReleaseOnTheSameCommandAndArgument) {
  struct Case {
    const char* name;
    POINT down, up;
    bool opens_settings;
    int selected;
  } cases[] = {
      {"same button", {20, 20}, {30, 30}, true, -1},
      {"released elsewhere", {20, 20}, {400, 400}, false, -1},
      {"pressed on empty space", {400, 400}, {20, 20}, false, -1},
      {"same command and argument, other rectangle", {20, 20}, {20, 210}, true, -1},
      {"row 2 to row 3", {20, 70}, {20, 110}, false, -1},
      {"row 2 to row 2", {20, 70}, {20, 80}, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_entries(4);
    g_state.selected = -1;
    g_state.settings_open = false;
    set_regions({{BUTTON, CMD_OPEN_SETTINGS, 0},
                 {BUTTON_MOVED, CMD_OPEN_SETTINGS, 0},
                 {ROW2, CMD_SELECT_ENTRY, 2},
                 {ROW3, CMD_SELECT_ENTRY, 3}});
    press(c.down.x, c.down.y);
    const HitRegion* pressed = hit_test(c.down.x, c.down.y);
    EXPECT_EQ(g_ui.pressed_id, pressed ? pressed->id : 0);
    EXPECT_EQ(GetCapture(), window);
    EXPECT_FALSE(g_state.settings_open);  // never on button-down
    release(c.up.x, c.up.y);
    EXPECT_EQ(g_state.settings_open, c.opens_settings);
    EXPECT_EQ(g_state.selected, c.selected);
    EXPECT_EQ(g_ui.pressed_id, 0);
    EXPECT_EQ(GetCapture(), (HWND)NULL);
  }
}

TEST_F(WindowTest, TheRegionRecordedLaterTakesThePoint) {
  const RECT under = {0, 0, 200, 200}, over = {50, 50, 150, 150};
  set_regions({{under, CMD_OPEN_SETTINGS, 0}, {over, CMD_CLOSE_SETTINGS, 0}});
  send(WM_MOUSEMOVE, 0, point(100, 100));
  EXPECT_EQ(g_ui.hovered_id, CMD_CLOSE_SETTINGS);

  g_state.settings_open = true;
  press(100, 100);
  EXPECT_EQ(g_ui.pressed_id, CMD_CLOSE_SETTINGS);
  release(100, 100);
  EXPECT_FALSE(g_state.settings_open);

  set_regions({{under, CMD_OPEN_SETTINGS, 0}, {over, CMD_CLOSE_SETTINGS, 0}});
  press(10, 10);
  release(10, 10);
  EXPECT_TRUE(g_state.settings_open);
}

TEST_F(WindowTest, RegionsBeyondTheNinetySixthAreNeverHit) {
  g_ui.hit_region_count = 0;
  for (int i = 0; i < 100; i++) add_hit_region(RECT{i * 10, 0, i * 10 + 10, 10}, CMD_OPEN_SETTINGS, i);
  EXPECT_EQ(g_ui.hit_region_count, HIT_REGION_CAPACITY);
  for (int i = 96; i < 100; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(hit_test(i * 10 + 5, 5), (const HitRegion*)NULL);
    send(WM_MOUSEMOVE, 0, point(i * 10 + 5, 5));
    EXPECT_EQ(g_ui.hovered_id, 0);
    press(i * 10 + 5, 5);
    release(i * 10 + 5, 5);
    EXPECT_FALSE(g_state.settings_open);
  }
  const HitRegion* last = hit_test(955, 5);
  ASSERT_NE(last, (const HitRegion*)NULL);
  EXPECT_EQ(last->arg, 95);
  press(955, 5);
  release(955, 5);
  EXPECT_TRUE(g_state.settings_open);
}

TEST_F(WindowTest, DoubleClickOnARowSelectsItAndStartsOnlyABuiltGame) {
  int unbuilt = unbuilt_entry();
  int built = built_entry();
  ASSERT_GE(unbuilt, 0);
  ASSERT_GE(built, 0);
  g_state.minimize = 0;
  const RECT unbuilt_row = {10, 60, 110, 90}, built_row = {10, 100, 110, 130};

  wcscpy(g_state.status_text, L"kept");
  arm_save_probe();
  set_regions({{unbuilt_row, CMD_SELECT_ENTRY, unbuilt}, {built_row, CMD_SELECT_ENTRY, built}});
  send(WM_LBUTTONDBLCLK, MK_LBUTTON, point(20, 70));
  release(20, 70);  // the release of the second press dispatches nothing
  EXPECT_EQ(g_state.selected, unbuilt);
  EXPECT_EQ(g_state.running_entry, -1);
  EXPECT_EQ(g_job.running, 0);
  EXPECT_STREQ(g_state.status_text, L"kept");
  EXPECT_FALSE(saved());

  // Double clicks elsewhere do nothing.
  set_regions({{BUTTON, CMD_OPEN_SETTINGS, 0}});
  send(WM_LBUTTONDBLCLK, MK_LBUTTON, point(20, 20));
  send(WM_LBUTTONDBLCLK, MK_LBUTTON, point(400, 400));
  EXPECT_FALSE(g_state.settings_open);
  EXPECT_EQ(g_state.selected, unbuilt);

  set_regions({{unbuilt_row, CMD_SELECT_ENTRY, unbuilt}, {built_row, CMD_SELECT_ENTRY, built}});
  send(WM_LBUTTONDBLCLK, MK_LBUTTON, point(20, 110));
  EXPECT_EQ(g_state.selected, built);
  // The stand-in game may be gone again before a check of running_entry: its record shows it ran.
  EXPECT_TRUE(pump_until([&] { return GetFileAttributesW(record_path().c_str()) != INVALID_FILE_ATTRIBUTES; }, 10000));
  EXPECT_TRUE(pump_until([] { return g_state.running_entry < 0; }, 10000));
  EXPECT_NE(read_bytes(record_path()).find("pal.iso"), std::string::npos);
}

TEST_F(WindowTest, QuickClicksOnASettingEachCountButADoubleClickRemovesOnce) {
  // Two quick clicks arrive as a press and a double click. On a stepper or a
  // switch both must count; on Remove the second must not take another disc.
  struct Case {
    const char* what;
    int32_t id, arg;
    std::function<int()> value;
    int expected;
  } cases[] = {
      {"capture more", CMD_CAPTURE_MORE, 0, [] { return g_state.capture_seconds; }, 5},
      {"capture less", CMD_CAPTURE_LESS, 0, [] { return g_state.capture_seconds; }, 1},
      {"next level", CMD_LEVEL_NEXT, 0, [] { return g_state.start_level; }, 1},
      {"a switch on and off", CMD_TOGGLE_SETTING, 0, [] { return g_state.vsync; }, 0},
      {"remove", CMD_REMOVE_ENTRY, 0, [] { return g_state.entry_count; }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake_entries(3);
    g_state.selected = 0;
    g_state.capture_seconds = 3;
    g_state.start_level = -1;
    g_state.vsync = 0;
    set_regions({{BUTTON, c.id, c.arg}});
    press(20, 20);
    release(20, 20);
    send(WM_LBUTTONDBLCLK, MK_LBUTTON, point(20, 20));
    release(20, 20);
    EXPECT_EQ(c.value(), c.expected);
  }
}

TEST_F(WindowTest, PlayingADiscThatIsGoneRepaintsItsNewLabel) {
  // Enter and a double click ask launch_game, which identifies the disc again
  // and refuses one that has gone. The row's label must then show the new
  // status at once, not the "Ready to play" of the last paint.
  const RECT row = {10, 100, 110, 130};
  const struct {
    const char* how;
    std::function<void(HWND)> play;
  } cases[] = {
      {"Enter", [](HWND w) { SendMessageW(w, WM_KEYDOWN, VK_RETURN, 0); }},
      {"double click", [](HWND w) { SendMessageW(w, WM_LBUTTONDBLCLK, MK_LBUTTON, point(20, 110)); }},
  };
  int built = built_entry();
  ASSERT_EQ(g_state.entries[built].status, DISC_OK);
  ASSERT_TRUE(DeleteFileW(join(folder, L"pal.iso").c_str()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    g_state.entries[built].status = DISC_OK;  // as the last identification found it
    g_state.entries[built].catalog_row = 0;
    g_state.selected = built;
    set_regions({{row, CMD_SELECT_ENTRY, built}});
    ValidateRect(window, NULL);
    c.play(window);
    // The check runs on the worker; its answer (handled alone here, so that
    // no paint comes between) must leave the row to be repainted.
    DWORD start = GetTickCount();
    while (g_state.entries[built].status != DISC_NOT_FOUND && GetTickCount() - start < 10000) {
      MSG m;
      while (PeekMessageW(&m, window, WM_APP_IDENTIFIED, WM_APP_IDENTIFIED, PM_REMOVE)) DispatchMessageW(&m);
      Sleep(5);
    }
    EXPECT_EQ(g_state.entries[built].status, DISC_NOT_FOUND);
    EXPECT_EQ(g_state.running_entry, -1);
    EXPECT_TRUE(GetUpdateRect(window, NULL, FALSE));
    // The message line names the file that is gone and what to do.
    EXPECT_EQ(std::wstring(g_state.status_text),
              L"The disc image is gone. Put it back, or remove this entry and add it from where it is now: " +
                  join(folder, L"pal.iso"));
    EXPECT_TRUE(g_state.status_is_error);
  }
}

static bool painted_region(HWND window, int32_t id, int32_t arg, POINT* centre);

TEST_F(WindowTest, NoGameStartsWhileABuildRuns) {
  // A rebuild replaces (or, for a new kit, deletes) the files of the game
  // that is built already; Enter, a double click and Play must all wait.
  const RECT row = {10, 100, 110, 130};
  int built = built_entry();
  ASSERT_EQ(g_state.entries[built].status, DISC_OK);
  g_state.minimize = 0;
  g_state.selected = built;
  g_job.running = 1;  // as start_build leaves it while the worker builds this entry
  g_job.entry_index = built;
  const struct {
    const char* how;
    std::function<void(HWND)> play;
  } cases[] = {
      {"Enter", [](HWND w) { SendMessageW(w, WM_KEYDOWN, VK_RETURN, 0); }},
      {"double click", [](HWND w) { SendMessageW(w, WM_LBUTTONDBLCLK, MK_LBUTTON, point(20, 110)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    set_regions({{row, CMD_SELECT_ENTRY, built}});
    c.play(window);
    EXPECT_EQ(g_state.running_entry, -1);  // a launch sets it at once
    pump_for(200);
  }
  POINT at;
  EXPECT_FALSE(painted_region(window, CMD_PRIMARY_ACTION, 0, &at)) << "Play is drawn disabled";
  g_job.running = 0;
  EXPECT_TRUE(painted_region(window, CMD_PRIMARY_ACTION, 0, &at)) << "and enabled again once the job ends";
  EXPECT_EQ(GetFileAttributesW(record_path().c_str()), INVALID_FILE_ATTRIBUTES);
}

// Paints the window now and returns the centre of the region (id, arg) that
// the paint recorded; false when the paint drew no such region.
static bool painted_region(HWND window, int32_t id, int32_t arg, POINT* centre) {
  InvalidateRect(window, NULL, FALSE);
  UpdateWindow(window);  // WM_PAINT at once: the main view records its regions
  for (int i = 0; i < g_ui.hit_region_count; i++) {
    const HitRegion& r = g_ui.hit_regions[i];
    if (r.id == id && r.arg == arg) {
      centre->x = (r.rect.left + r.rect.right) / 2;
      centre->y = (r.rect.top + r.rect.bottom) / 2;
      return true;
    }
  }
  return false;
}

TEST_F(WindowTest, ClicksOnWhatTheMainViewPaintedReachTheirCommands) {
  fake_entries(3);
  g_state.selected = 0;
  POINT at;
  ASSERT_TRUE(painted_region(window, CMD_SELECT_ENTRY, 2, &at));
  arm_save_probe();
  press(at.x, at.y);
  release(at.x, at.y);
  EXPECT_EQ(g_state.selected, 2);
  EXPECT_TRUE(saved());

  ASSERT_TRUE(painted_region(window, CMD_OPEN_SETTINGS, 0, &at));
  press(at.x, at.y);
  release(at.x, at.y);
  EXPECT_TRUE(g_state.settings_open);

  ASSERT_TRUE(painted_region(window, CMD_CLOSE_SETTINGS, 0, &at));
  send(WM_MOUSEMOVE, 0, point(at.x, at.y));
  EXPECT_EQ(g_ui.hovered_id, CMD_CLOSE_SETTINGS);
  press(at.x, at.y);
  release(at.x, at.y);
  EXPECT_FALSE(g_state.settings_open);

  ASSERT_TRUE(painted_region(window, CMD_REMOVE_ENTRY, 0, &at));
  press(at.x, at.y);
  release(at.x, at.y);
  EXPECT_EQ(g_state.entry_count, 2);
  EXPECT_EQ(g_state.selected, 1);
}

// Starts xdotool, a program of the host that Wine runs directly, with
// arguments. Wine does not follow such a process, so the caller waits for
// the effect instead. True when it started.
static bool xdotool(const std::wstring& arguments) {
  std::wstring command = L"xdotool " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\usr\\bin\\xdotool", &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                      &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Real input goes to whatever window of the shared display is on top: other
// test programs may open windows meanwhile, so input that had no effect is
// sent again (each action below is harmless to repeat).
static bool real_input(HWND window, const std::wstring& arguments, const std::function<bool()>& done) {
  for (int attempt = 0; attempt < 3; attempt++) {
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(window);
    SetFocus(window);
    pump_for(50);
    if (!xdotool(arguments)) return false;
    if (pump_until(done, 3000)) break;
  }
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  return done();
}

TEST_F(WindowTest, ARealDoubleClickOnABuiltRowStartsItsGame) {
  int unbuilt = unbuilt_entry();
  int built = built_entry();
  ASSERT_GE(built, 0);
  g_state.selected = unbuilt;
  g_state.minimize = 0;
  POINT at;
  ASSERT_TRUE(painted_region(window, CMD_SELECT_ENTRY, built, &at));
  ClientToScreen(window, &at);
  // Two presses through the X server: the window class asks for double
  // clicks, so the second press arrives as one and starts the game.
  std::wstring click = L"mousemove " + std::to_wstring(at.x) + L" " + std::to_wstring(at.y) +
                       L" click --repeat 2 --delay 100 1";
  std::wstring record = record_path();
  EXPECT_TRUE(real_input(window, click, [&] {
    return GetFileAttributesW(record.c_str()) != INVALID_FILE_ATTRIBUTES;
  }));
  EXPECT_EQ(g_state.selected, built);
  EXPECT_TRUE(pump_until([] { return g_state.running_entry < 0; }, 10000));
}

TEST_F(WindowTest, RealKeysReachTheWindow) {
  fake_entries(2);
  g_state.selected = 0;
  EXPECT_TRUE(real_input(window, L"key Down", [] { return g_state.selected == 1; }));
  g_state.settings_open = true;
  EXPECT_TRUE(real_input(window, L"key Escape", [] { return !g_state.settings_open; }));
}

// ---- Commands --------------------------------------------------------------

TEST_F(WindowTest, SettingCommandsChangeTheirSettingAndSave) {
  typedef int32_t LauncherState::*Field;
  struct Case {
    const char* name;
    int32_t id, arg;
    Field field;
    const wchar_t* key;
    int32_t before, after;
  } cases[] = {
      {"native", CMD_SET_RESOLUTION, 0, &LauncherState::upscaled, L"upscaled", 1, 0},
      {"upscaled", CMD_SET_RESOLUTION, 1, &LauncherState::upscaled, L"upscaled", 0, 1},
      {"vsync on", CMD_TOGGLE_SETTING, 0, &LauncherState::vsync, L"vsync", 0, 1},
      {"vsync off", CMD_TOGGLE_SETTING, 0, &LauncherState::vsync, L"vsync", 1, 0},
      {"no gs thread", CMD_TOGGLE_SETTING, 1, &LauncherState::no_gs_thread, L"no_gs_thread", 0, 1},
      {"no gl thread", CMD_TOGGLE_SETTING, 2, &LauncherState::no_gl_thread, L"no_gl_thread", 0, 1},
      {"fps log", CMD_TOGGLE_SETTING, 3, &LauncherState::fps_log, L"fps_log", 0, 1},
      {"minimize off", CMD_TOGGLE_SETTING, 4, &LauncherState::minimize, L"minimize", 1, 0},
      {"minimize from 5", CMD_TOGGLE_SETTING, 4, &LauncherState::minimize, L"minimize", 5, 0},
      {"capture less", CMD_CAPTURE_LESS, 0, &LauncherState::capture_seconds, L"capture_seconds", 3, 2},
      {"capture less at 1", CMD_CAPTURE_LESS, 0, &LauncherState::capture_seconds, L"capture_seconds", 1, 1},
      {"capture more", CMD_CAPTURE_MORE, 0, &LauncherState::capture_seconds, L"capture_seconds", 3, 4},
      {"capture more at 10", CMD_CAPTURE_MORE, 0, &LauncherState::capture_seconds, L"capture_seconds", 10, 10},
      {"level back from off", CMD_LEVEL_PREV, 0, &LauncherState::start_level, L"start_level", -1, 18},
      {"level back from 0", CMD_LEVEL_PREV, 0, &LauncherState::start_level, L"start_level", 0, -1},
      {"level back from 5", CMD_LEVEL_PREV, 0, &LauncherState::start_level, L"start_level", 5, 4},
      {"level on from 18", CMD_LEVEL_NEXT, 0, &LauncherState::start_level, L"start_level", 18, -1},
      {"level on from off", CMD_LEVEL_NEXT, 0, &LauncherState::start_level, L"start_level", -1, 0},
      {"level on from 7", CMD_LEVEL_NEXT, 0, &LauncherState::start_level, L"start_level", 7, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_state.*c.field = c.before;
    g_state.settings_open = true;
    arm_save_probe();
    dispatch_command(c.id, c.arg);
    EXPECT_EQ(g_state.*c.field, c.after);
    EXPECT_TRUE(saved());
    EXPECT_EQ(ini_string(L"settings", c.key), std::to_wstring(c.after));
    EXPECT_TRUE(g_state.settings_open);  // the panel stays open
  }
}

TEST_F(WindowTest, PanelCommandsOpenWithoutSavingAndCloseWithASave) {
  arm_save_probe();
  dispatch_command(CMD_OPEN_SETTINGS, 0);
  EXPECT_TRUE(g_state.settings_open);
  EXPECT_FALSE(saved());
  dispatch_command(CMD_CLOSE_SETTINGS, 0);
  EXPECT_FALSE(g_state.settings_open);
  EXPECT_TRUE(saved());
}

TEST_F(WindowTest, CommandsOutsideTheSeventeenAndTogglesOutsideTheFiveChangeNothing) {
  fake_entries(2);
  g_state.selected = 1;
  g_state.settings_open = true;
  wcscpy(g_state.status_text, L"kept");
  arm_save_probe();
  for (int32_t id : {0, -1, 18, 1000}) dispatch_command(id, 0);
  for (int32_t arg : {-1, 5}) dispatch_command(CMD_TOGGLE_SETTING, arg);
  EXPECT_EQ(g_state.vsync + g_state.no_gs_thread + g_state.no_gl_thread + g_state.fps_log, 0);
  EXPECT_EQ(g_state.minimize, 1);
  EXPECT_TRUE(g_state.settings_open);
  EXPECT_EQ(g_state.selected, 1);
  EXPECT_STREQ(g_state.status_text, L"kept");
  EXPECT_FALSE(saved());
}

TEST_F(WindowTest, SelectingAnEntryIdentifiesItAgainClosesThePanelAndSaves) {
  fake_entries(1);
  std::wstring disc = join(folder, L"pal.iso");
  write_disc(disc, "SXPE_100.01");
  int index = add_entry(disc);
  ASSERT_EQ(index, 1);
  g_state.entries[index].status = DISC_UNKNOWN;  // as if the image had changed since
  g_state.entries[index].catalog_row = -1;
  g_state.settings_open = true;
  wcscpy(g_state.status_text, L"old");
  arm_save_probe();
  dispatch_command(CMD_SELECT_ENTRY, index);
  EXPECT_EQ(g_state.selected, index);
  // Read again on the worker: the row follows when it answers.
  EXPECT_TRUE(wait_for_identification());
  EXPECT_EQ(g_state.entries[index].status, DISC_OK);
  EXPECT_EQ(g_state.entries[index].catalog_row, 0);
  EXPECT_FALSE(g_state.settings_open);
  EXPECT_STREQ(g_state.status_text, L"");
  EXPECT_TRUE(saved());
  EXPECT_EQ(ini_string(L"library", L"selected"), L"1");

  // A row of an earlier paint that names no entry any more does nothing.
  arm_save_probe();
  dispatch_command(CMD_SELECT_ENTRY, 5);
  EXPECT_EQ(g_state.selected, index);
  EXPECT_FALSE(saved());
}

TEST_F(WindowTest, OpenLogPicksTheGameLogOrTheBuildLog) {
  int unbuilt = unbuilt_entry();
  int built = built_entry();
  std::wstring unknown_disc = join(folder, L"unknown.iso");
  write_disc(unknown_disc, "SLUS_999.99");
  int unknown = add_entry(unknown_disc);
  ASSERT_EQ(unbuilt, 0);
  ASSERT_EQ(built, 1);
  ASSERT_EQ(unknown, 2);
  const std::wstring build_log = join(folder, L"games\\mox1\\build_log.txt");
  const std::wstring game_log = join(game_dir, L"mox1_log.txt");
  struct Case {
    const char* name;
    int index, failed, failed_entry;
    const std::wstring* expected;  // null: no log
  } cases[] = {
      {"not built", unbuilt, 0, -1, &build_log},
      {"built", built, 0, -1, &game_log},
      {"built, its last build failed", built, 1, built, &build_log},
      {"built, another entry's build failed", built, 1, unbuilt, &game_log},
      {"unknown disc", unknown, 0, -1, nullptr},
      {"nothing selected", -1, 0, -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_job.failed = c.failed;
    g_job.entry_index = c.failed_entry;
    wchar_t path[PATH_UNITS] = L"";
    EXPECT_EQ(choose_log_path(c.index, path), c.expected != nullptr);
    if (c.expected) {
      EXPECT_EQ(std::wstring(path), *c.expected);
    }
  }

  // No log file yet: a message, not an error, and no save.
  g_job.failed = 0;
  g_state.selected = built;
  g_state.status_is_error = true;
  arm_save_probe();
  dispatch_command(CMD_OPEN_LOG, 0);
  EXPECT_STREQ(g_state.status_text, L"No log yet: it is written when the game runs.");
  EXPECT_FALSE(g_state.status_is_error);
  EXPECT_FALSE(saved());

  // An entry without a game's log: nothing at all.
  g_state.selected = unknown;
  wcscpy(g_state.status_text, L"kept");
  dispatch_command(CMD_OPEN_LOG, 0);
  dispatch_command(CMD_OPEN_GAME_FOLDER, 0);
  EXPECT_STREQ(g_state.status_text, L"kept");
  EXPECT_FALSE(saved());
}

struct WindowSearch {
  std::function<bool(HWND)> match;
  HWND found;
};

static BOOL CALLBACK visit_window(HWND window, LPARAM context) {
  WindowSearch* search = (WindowSearch*)context;
  if (!IsWindowVisible(window) || !search->match(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// The first visible top-level window (of any program) that match accepts,
// waiting up to ms for it.
static HWND visible_window(const std::function<bool(HWND)>& match, int ms) {
  WindowSearch search = {match, NULL};
  pump_until([&] {
    EnumWindows(visit_window, (LPARAM)&search);
    return search.found != NULL;
  }, ms);
  return search.found;
}

// The shell's folder window titled title, waiting up to ms for it.
static HWND folder_window(const wchar_t* title, int ms) {
  return visible_window([title](HWND window) {
    wchar_t text[260], name[64];
    return GetClassNameW(window, name, 64) && wcscmp(name, L"ExplorerWClass") == 0 &&
           GetWindowTextW(window, text, 260) && wcscmp(text, title) == 0;
  }, ms);
}

TEST_F(WindowTest, GameFolderOpensTheBuiltGamesFolderWithTheShell) {
  int unbuilt = unbuilt_entry();
  int built = built_entry();
  ASSERT_GE(unbuilt, 0);
  ASSERT_GE(built, 0);
  ASSERT_EQ(folder_window(L"windows", 0), (HWND)NULL);

  // The NTSC-U game was never built: its folder is not there, and the shell
  // call fails without a word.
  g_state.selected = unbuilt;
  wcscpy(g_state.status_text, L"kept");
  arm_save_probe();
  dispatch_command(CMD_OPEN_GAME_FOLDER, 0);
  EXPECT_EQ(folder_window(L"windows_us", 1500), (HWND)NULL);

  g_state.selected = built;
  dispatch_command(CMD_OPEN_GAME_FOLDER, 0);
  HWND shown = folder_window(L"windows", 15000);  // the last part of the game's folder
  EXPECT_TRUE(shown != NULL);
  if (shown) PostMessageW(shown, WM_CLOSE, 0, 0);
  EXPECT_STREQ(g_state.status_text, L"kept");
  EXPECT_FALSE(saved());
}

// The shell's window (any program) whose title holds part, within ms.
static HWND titled_window(const wchar_t* part, int ms) {
  return visible_window([part](HWND window) {
    wchar_t text[512];
    return GetWindowTextW(window, text, 512) && wcsstr(text, part) != NULL;
  }, ms);
}

TEST_F(WindowTest, OpenLogOpensTheChosenLogWithTheShell) {
  int built = built_entry();
  ASSERT_GE(built, 0);
  ASSERT_TRUE(write_bytes(join(game_dir, L"mox1_log.txt"), "frame timings\r\n"));
  ASSERT_TRUE(write_bytes(join(folder, L"games\\mox1\\build_log.txt"), "[progress] 1/1 done\n"));
  // A fresh Wine prefix knows the text-file class but has no ".txt" link to
  // it, so the shell would open nothing. Lend it one for this test only: a
  // volatile key, removed again below, and only when there was none.
  HKEY link = NULL;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.txt", 0, NULL, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, NULL, &link, &disposition),
            ERROR_SUCCESS);
  if (disposition == REG_CREATED_NEW_KEY)
    RegSetValueExW(link, NULL, 0, REG_SZ, (const BYTE*)L"txtfile", sizeof L"txtfile");
  RegCloseKey(link);

  g_state.selected = built;
  wcscpy(g_state.status_text, L"kept");
  arm_save_probe();
  dispatch_command(CMD_OPEN_LOG, 0);
  HWND game_log = titled_window(L"mox1_log", 15000);
  // After a failed build of this entry, its build log instead.
  g_job.failed = 1;
  g_job.entry_index = built;
  dispatch_command(CMD_OPEN_LOG, 0);
  HWND build_log = titled_window(L"build_log", 15000);
  if (disposition == REG_CREATED_NEW_KEY) RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.txt");

  EXPECT_TRUE(game_log != NULL);
  EXPECT_TRUE(build_log != NULL);
  for (HWND editor : {game_log, build_log})
    if (editor) PostMessageW(editor, WM_CLOSE, 0, 0);
  EXPECT_STREQ(g_state.status_text, L"kept");
  EXPECT_FALSE(saved());
}

TEST_F(WindowTest, CancelSetsTheFlagAndEndsTheBuildScriptsJobObject) {
  arm_save_probe();
  dispatch_command(CMD_CANCEL_BUILD, 0);  // no job object yet: only the flag
  EXPECT_EQ(g_job.cancel_requested, 1);

  g_job.cancel_requested = 0;
  HANDLE job = CreateJobObjectW(NULL, NULL);
  ASSERT_TRUE(job != NULL);
  std::wstring program = windows_path(STANDIN_GAME_EXE);
  std::wstring command = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(program.c_str(), &command[0], NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL,
                             &startup, &process));
  ASSERT_TRUE(AssignProcessToJobObject(job, process.hProcess));
  job_set_object(job);

  dispatch_command(CMD_CANCEL_BUILD, 0);
  EXPECT_EQ(g_job.cancel_requested, 1);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, 1u);
  EXPECT_FALSE(saved());
  job_close_object();
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

TEST_F(WindowTest, RebuildIsRefusedWhileAGameRunsOrWithoutASelection) {
  fake_entries(2);
  g_state.settings_open = true;
  arm_save_probe();
  g_state.selected = -1;
  dispatch_command(CMD_REBUILD, 0);
  EXPECT_TRUE(g_state.settings_open);
  g_state.selected = 0;
  g_state.running_entry = 1;
  dispatch_command(CMD_REBUILD, 0);
  EXPECT_TRUE(g_state.settings_open);
  g_state.running_entry = -1;
  dispatch_command(CMD_REBUILD, 0);
  EXPECT_FALSE(g_state.settings_open);
  EXPECT_FALSE(saved());
}

TEST_F(WindowTest, PrimaryActionPlaysABuiltGame) {
  int built = built_entry();
  ASSERT_GE(built, 0);
  g_state.minimize = 0;
  arm_save_probe();
  g_state.selected = -1;
  dispatch_command(CMD_PRIMARY_ACTION, 0);
  EXPECT_EQ(g_state.running_entry, -1);
  g_state.selected = built;
  dispatch_command(CMD_PRIMARY_ACTION, 0);
  // The stand-in game may be gone again before a check of running_entry: its record shows it ran.
  EXPECT_TRUE(pump_until([&] { return GetFileAttributesW(record_path().c_str()) != INVALID_FILE_ATTRIBUTES; }, 10000));
  EXPECT_TRUE(pump_until([] { return g_state.running_entry < 0; }, 10000));
  EXPECT_FALSE(saved());
}

TEST_F(WindowTest, PrimaryActionBuildsAMissingGameAndRebuildBuildsAgain) {
  int unbuilt = unbuilt_entry();
  int built = built_entry();
  ASSERT_GE(unbuilt, 0);
  ASSERT_GE(built, 0);
  struct Case {
    const char* name;
    int32_t id;
    int selected;
  } cases[] = {
      {"build", CMD_PRIMARY_ACTION, unbuilt},
      {"rebuild", CMD_REBUILD, built},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_state.selected = c.selected;
    g_state.settings_open = true;
    arm_save_probe();
    dispatch_command(c.id, 0);
    EXPECT_EQ(g_job.entry_index, c.selected);
    EXPECT_EQ(g_state.running_entry, -1);  // no game started
    // The release folder of the test does not exist, so the job ends at once.
    EXPECT_TRUE(pump_until([] { return g_job.running == 0; }, 20000));
    pump_for(50);
    EXPECT_EQ(g_job.failed, 1);
    EXPECT_EQ(g_job.entry_index, c.selected);
    // The worker got as far as the description: no pre-flight refusal of the
    // test's own launcher folder stopped it first.
    EXPECT_NE(std::wstring(g_job.error_text).find(L"mox1.json"), std::wstring::npos)
        << testing::PrintToString(std::wstring(g_job.error_text));
    EXPECT_STRNE(g_state.status_text, L"Built. Ready to play.");
    EXPECT_EQ(g_state.settings_open, c.id != CMD_REBUILD);  // only rebuild closes the panel
    EXPECT_FALSE(saved());
  }
}

// Another program (telvar-cli) holds the folder's build lock: the launcher
// starts no build and says who builds; once that one ends, the launcher
// builds, and its own job lets the lock go when it ends.
TEST_F(WindowTest, NoBuildWhileAnotherProgramBuildsInTheFolder) {
  int unbuilt = unbuilt_entry();
  ASSERT_GE(unbuilt, 0);
  wchar_t name[64];
  swprintf(name, 64, L"ProjectTelvar.Build.%016llx", (unsigned long long)launcher_folder_key(g_state.launcher_dir));
  HANDLE other = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 128, name);
  ASSERT_TRUE(other != NULL);
  wchar_t* block = (wchar_t*)MapViewOfFile(other, FILE_MAP_WRITE, 0, 0, 0);
  ASSERT_TRUE(block != NULL);
  wcscpy(block, L"telvar-cli.exe");
  UnmapViewOfFile(block);

  g_state.selected = unbuilt;
  dispatch_command(CMD_PRIMARY_ACTION, 0);
  EXPECT_EQ(g_job.running, 0);
  EXPECT_EQ(g_job.entry_index, -1) << "a job was prepared";
  EXPECT_STREQ(g_state.status_text,
               L"Another build is running in this folder (telvar-cli.exe). Wait until it has finished, then try again.");
  EXPECT_TRUE(g_state.status_is_error);
  CloseHandle(other);

  dispatch_command(CMD_PRIMARY_ACTION, 0);
  EXPECT_EQ(g_job.entry_index, unbuilt);
  EXPECT_TRUE(pump_until([] { return g_job.running == 0; }, 20000));
  HANDLE again = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 128, name);
  DWORD error = GetLastError();
  ASSERT_TRUE(again != NULL);
  EXPECT_NE(error, (DWORD)ERROR_ALREADY_EXISTS) << "the ended job kept the lock";
  CloseHandle(again);
}

TEST_F(WindowTest, CancelledDialogsOnlyCloseThePanel) {
  struct Case {
    const char* name;
    int32_t id;
    const wchar_t* title;
  } cases[] = {
      {"add disc", CMD_ADD_DISC, L"Add disc images"},
      {"scan folder", CMD_SCAN_FOLDER, NULL},  // the folder picker shows its title inside
  };
  fake_entries(1);
  g_state.selected = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_state.settings_open = true;
    wcscpy(g_state.status_text, L"kept");
    arm_save_probe();
    DialogSeen seen = with_dialog([&] { dispatch_command(c.id, 0); },
                                  [](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_TRUE(seen.found);
    if (c.title) {
      EXPECT_EQ(seen.title, c.title);
    }
    EXPECT_FALSE(g_state.settings_open);
    EXPECT_EQ(g_state.entry_count, 1);
    EXPECT_STREQ(g_state.status_text, L"kept");
    EXPECT_FALSE(saved());
  }
}

// ---- Closing ---------------------------------------------------------------

TEST_F(WindowTest, ClosingDuringABuildAsksFirst) {
  g_job.running = 1;
  arm_save_probe();
  DialogSeen seen = with_dialog([&] { send(WM_CLOSE); }, [](HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), (LPARAM)GetDlgItem(box, IDNO));
  });
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title, L"Project Telvar");
  EXPECT_EQ(seen.text, L"A game is being built. Stop the build and close?");
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(saved());
  EXPECT_EQ(g_job.cancel_requested, 0);

  seen = with_dialog([&] { send(WM_CLOSE); }, [](HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), (LPARAM)GetDlgItem(box, IDYES));
  });
  ASSERT_TRUE(seen.found);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(saved());
  EXPECT_EQ(g_job.cancel_requested, 0);  // the build ends with the process, not by a cancel
  g_job.running = 0;
}

TEST_F(WindowTest, ClosingWithoutABuildAsksNothingAndSaves) {
  fake_entries(2);
  g_state.selected = 1;
  arm_save_probe();
  DialogSeen seen = with_dialog([&] { send(WM_CLOSE); },
                                [](HWND box) { PostMessageW(box, WM_COMMAND, IDCANCEL, 0); });
  EXPECT_FALSE(seen.found);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(saved());
  EXPECT_EQ(ini_string(L"library", L"count"), L"2");
  EXPECT_EQ(ini_string(L"library", L"selected"), L"1");
}

// ---- Messages from the worker threads --------------------------------------

TEST_F(WindowTest, TheEndOfABuildReportsSuccessFlashesAndRestores) {
  struct Case {
    const char* name;
    WPARAM ended;
    LONG failed;
    const wchar_t* status;
    bool restored;
  } cases[] = {
      {"built", 1, 0, L"Built. Ready to play.", true},
      // The build's own error takes the message line: an older text would hide it.
      {"failed or cancelled", 1, 1, L"", true},
      {"progress only", 0, 0, L"kept", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));
    g_job.failed = c.failed;
    wcscpy(g_state.status_text, L"kept");
    g_state.status_is_error = true;
    PostMessageW(window, WM_APP_BUILD_PROGRESS, c.ended, 0);
    pump_for(100);
    EXPECT_STREQ(g_state.status_text, c.status);
    EXPECT_EQ(g_state.status_is_error, c.ended != 1);
    EXPECT_EQ(!IsIconic(window), c.restored);
    ShowWindow(window, SW_RESTORE);
  }
}

TEST_F(WindowTest, AnEndMessageOfAnEarlierJobChangesNothing) {
  // A job's end message can still wait in the queue when the next job starts
  // (its worker cleared running just before posting it); it names its job.
  g_job.serial = 7;
  g_job.running = 1;
  g_job.failed = 0;
  wcscpy(g_state.status_text, L"kept");
  g_state.status_is_error = true;
  PostMessageW(window, WM_APP_BUILD_PROGRESS, 1, 6);
  pump_for(100);
  EXPECT_STREQ(g_state.status_text, L"kept");
  EXPECT_TRUE(g_state.status_is_error);

  g_job.running = 0;
  PostMessageW(window, WM_APP_BUILD_PROGRESS, 1, 7);
  pump_for(100);
  EXPECT_STREQ(g_state.status_text, L"Built. Ready to play.");
}

TEST_F(WindowTest, AGameWhoseLastBuildDidNotFinishOffersARebuild) {
  // The build before was cut short and the game from before it could not be
  // put back: whatever files are there, the entry is not ready to play.
  int built = built_entry();
  ASSERT_GE(built, 0);
  g_state.selected = built;
  ASSERT_TRUE(write_bytes(game_dir + L".unfinished", ""));
  RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(std::wstring(status_label(built).text), L"Last build failed");
  bool rebuild = false, play = false;
  for (int i = 0; i < g_ui.hit_region_count; i++) {
    rebuild |= g_ui.hit_regions[i].id == CMD_REBUILD;
    play |= g_ui.hit_regions[i].id == CMD_PRIMARY_ACTION;
  }
  EXPECT_TRUE(rebuild);
  EXPECT_FALSE(play);

  DeleteFileW((game_dir + L".unfinished").c_str());
  RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(std::wstring(status_label(built).text), L"Ready to play");
}

TEST_F(WindowTest, ProgressIsPaintedAgainAfterTheLastPostedMessage) {
  // The worker drops publications that come within 80 ms of its last post;
  // the window must still come to show the last one, without another post.
  struct Case {
    const char* name;
    WPARAM ended;
    bool repainted;
  } cases[] = {
      {"progress", 0, true},
      {"end of the job", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PostMessageW(window, WM_APP_BUILD_PROGRESS, c.ended, 0);
    pump_for(20);  // the message and its paint
    ValidateRect(window, NULL);
    // Only timers run now: nothing else could ask for a paint.
    DWORD start = GetTickCount();
    MSG message;
    while (GetTickCount() - start < 400)
      if (PeekMessageW(&message, window, WM_TIMER, WM_TIMER, PM_REMOVE)) DispatchMessageW(&message);
    EXPECT_EQ(GetUpdateRect(window, NULL, FALSE) != FALSE, c.repainted);
  }
}

// A build reports up to twelve times a second for half an hour, and each
// report changes only the stage, the bar and the percentage: only they are
// drawn again on screen. A report of a disc that is not shown, and the end
// of the build (labels, buttons and the status line change), redraw it all.
TEST_F(WindowTest, ProgressRepaintsOnlyTheProgressBlock) {
  fake_entries(2);
  g_job.running = 1;
  g_job.entry_index = 0;
  g_job.failed = 0;
  struct Case {
    const char* name;
    int32_t selected;
    WPARAM ended;
    bool whole;
  } cases[] = {
      {"progress of the disc shown", 0, 0, false},
      {"progress of a disc not shown", 1, 0, true},
      {"the end of the build", 0, 1, true},
  };
  RECT client;
  GetClientRect(window, &client);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_state.selected = c.selected;
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
    ASSERT_FALSE(GetUpdateRect(window, NULL, FALSE));
    send(WM_APP_BUILD_PROGRESS, c.ended, g_job.serial);
    RECT dirty = {};
    ASSERT_TRUE(GetUpdateRect(window, &dirty, FALSE));
    if (c.whole) {
      EXPECT_TRUE(EqualRect(&dirty, &client));
      continue;
    }
    // The bar and the Cancel button lie inside; the title above does not.
    RECT bar = {}, cancel = {}, inside;
    for (int i = 0; i < g_ui.item_count; i++)
      if (g_ui.items[i].role == UI_ROLE_PROGRESS) bar = g_ui.items[i].rect;
    for (int i = 0; i < g_ui.hit_region_count; i++)
      if (g_ui.hit_regions[i].id == CMD_CANCEL_BUILD) cancel = g_ui.hit_regions[i].rect;
    ASSERT_FALSE(IsRectEmpty(&bar));
    ASSERT_FALSE(IsRectEmpty(&cancel));
    EXPECT_TRUE(IntersectRect(&inside, &dirty, &bar) && EqualRect(&inside, &bar));
    EXPECT_TRUE(IntersectRect(&inside, &dirty, &cancel) && EqualRect(&inside, &cancel));
    EXPECT_LE(dirty.bottom - dirty.top, px(50));
    EXPECT_GE(dirty.left, px(SIDEBAR_WIDTH));
  }
  ValidateRect(window, NULL);
  g_job.running = 0;
}

TEST_F(WindowTest, GameExitReportsAFailureCodeInUpperCaseHexAndRestores) {
  fake_entries(1);
  struct Case {
    DWORD code;
    const wchar_t* status;
  } cases[] = {
      {0xC0000005, L"The game closed: it touched memory it may not use (a crash) (0xC0000005). Open log shows what "
                   L"happened; please add it to a bug report."},
      {1, L"The game closed with exit code 1. Open log shows what happened."},
      {0, L"kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ShowWindow(window, SW_MINIMIZE);
    g_state.running_entry = 0;
    g_state.game_process = OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId());  // a handle to close
    wcscpy(g_state.status_text, L"kept");
    g_state.status_is_error = false;
    PostMessageW(window, WM_APP_GAME_EXITED, c.code, 0);
    pump_for(100);
    EXPECT_STREQ(g_state.status_text, c.status);
    EXPECT_EQ(g_state.status_is_error, c.code != 0);
    EXPECT_EQ(g_state.running_entry, -1);
    EXPECT_EQ(g_state.game_process, (HANDLE)NULL);
    EXPECT_FALSE(IsIconic(window));
  }
}

// ---- Frame and scale -------------------------------------------------------

TEST_F(WindowTest, TheWindowHasItsClassTitleSizeAndLimits) {
  wchar_t text[64];
  GetClassNameW(window, text, 64);
  EXPECT_STREQ(text, L"ProjectTelvarLauncher");
  GetWindowTextW(window, text, 64);
  EXPECT_STREQ(text, L"Project Telvar");
  EXPECT_TRUE(GetClassLongW(window, GCL_STYLE) & CS_DBLCLKS);
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  RECT frame;
  GetWindowRect(window, &frame);
  EXPECT_EQ(frame.right - frame.left, 1100);
  EXPECT_EQ(frame.bottom - frame.top, 860);

  // The smallest size is a client area of 800 x 560 inside the frame.
  RECT smallest = {0, 0, 800, 560};
  AdjustWindowRectEx(&smallest, (DWORD)GetWindowLongW(window, GWL_STYLE), FALSE,
                     (DWORD)GetWindowLongW(window, GWL_EXSTYLE));
  MINMAXINFO limits = {};
  send(WM_GETMINMAXINFO, 0, (LPARAM)&limits);
  EXPECT_EQ(limits.ptMinTrackSize.x, smallest.right - smallest.left);
  EXPECT_EQ(limits.ptMinTrackSize.y, smallest.bottom - smallest.top);
  HDC dc = GetDC(window);
  EXPECT_EQ(send(WM_ERASEBKGND, (WPARAM)dc), 1);
  ReleaseDC(window, dc);

  // In the client area the cursor stays as the last mouse move set it.
  SetCursor(LoadCursorW(NULL, IDC_HAND));
  EXPECT_EQ(send(WM_SETCURSOR, (WPARAM)window, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
  EXPECT_EQ(GetCursor(), LoadCursorW(NULL, IDC_HAND));
}

// The client area as 32-bit pixels, copied from dc.
static std::vector<uint32_t> grab(HDC dc, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = NULL;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY);
  GdiFlush();
  std::vector<uint32_t> pixels((uint32_t*)bits, (uint32_t*)bits + (size_t)width * height);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
  return pixels;
}

TEST_F(WindowTest, APaintShowsTheWholeMainViewFrame) {
  fake_entries(3);
  g_state.selected = 1;
  RECT client;
  GetClientRect(window, &client);

  // The frame drawn straight into memory.
  HDC reference = CreateCompatibleDC(NULL);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = client.right;
  info.bmiHeader.biHeight = -client.bottom;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = NULL;
  HBITMAP bitmap = CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HGDIOBJ old = SelectObject(reference, bitmap);
  paint_window(reference, &client);
  std::vector<uint32_t> drawn = grab(reference, client.right, client.bottom);
  SelectObject(reference, old);
  DeleteObject(bitmap);
  DeleteDC(reference);

  // What the window shows after a paint. Another test program's window may
  // pass over this one on the shared display, so a difference is looked at
  // again after a fresh paint before it counts.
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  size_t differing = 0;
  for (int attempt = 0; attempt < 3; attempt++) {
    InvalidateRect(window, NULL, FALSE);
    UpdateWindow(window);
    HDC screen = GetDC(window);
    std::vector<uint32_t> shown = grab(screen, client.right, client.bottom);
    ReleaseDC(window, screen);
    ASSERT_EQ(shown.size(), drawn.size());
    differing = 0;
    for (size_t i = 0; i < shown.size(); i++) differing += (shown[i] & 0xFFFFFF) != (drawn[i] & 0xFFFFFF);
    if (differing == 0) break;
    pump_for(200);
  }
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(differing, 0u) << "of " << drawn.size() << " pixels";
}

TEST_F(WindowTest, ADpiChangeRescalesAndTakesTheSuggestedRectangle) {
  // 120 DPI: the window still fits the test screen at its new minimum size.
  RECT suggested = {20, 10, 20 + 1200, 10 + 1005};
  send(WM_DPICHANGED, MAKEWPARAM(120, 120), (LPARAM)&suggested);
  EXPECT_EQ(g_state.dpi_scale, 1.25f);
  RECT frame;
  GetWindowRect(window, &frame);
  EXPECT_EQ(frame.left, 20);
  EXPECT_EQ(frame.top, 10);
  EXPECT_EQ(frame.right - frame.left, 1200);
  EXPECT_EQ(frame.bottom - frame.top, 1005);
  RECT smallest = {0, 0, 1000, 700};  // a client area of px(800) x px(560) at 1.25
  AdjustWindowRectEx(&smallest, (DWORD)GetWindowLongW(window, GWL_STYLE), FALSE,
                     (DWORD)GetWindowLongW(window, GWL_EXSTYLE));
  MINMAXINFO limits = {};
  send(WM_GETMINMAXINFO, 0, (LPARAM)&limits);
  EXPECT_EQ(limits.ptMinTrackSize.x, smallest.right - smallest.left);
  EXPECT_EQ(limits.ptMinTrackSize.y, smallest.bottom - smallest.top);
  pump_for(50);  // a paint at the new scale
}

TEST_F(WindowTest, TheWindowTakesTheScaleOfItsOwnMonitor) {
  // The screen claimed 144 DPI, but the window's monitor has 96: the window
  // leaves creation at scale 1 and at its design size.
  g_state.dpi_scale = 1.5f;
  HWND second = create_main_window(GetModuleHandleW(NULL));
  ASSERT_TRUE(second != NULL);
  EXPECT_EQ(g_state.dpi_scale, 1.0f);
  RECT frame;
  GetWindowRect(second, &frame);
  EXPECT_EQ(frame.right - frame.left, 1100);
  EXPECT_EQ(frame.bottom - frame.top, 860);
  DestroyWindow(second);
  g_state.main_window = window;
}

// ---- The program -----------------------------------------------------------

struct ProgramWindow {
  DWORD process_id;
  HWND found;
};

static BOOL CALLBACK find_program_window(HWND window, LPARAM context) {
  ProgramWindow* search = (ProgramWindow*)context;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t name[64];
  if (owner == search->process_id && GetClassNameW(window, name, 64) && wcscmp(name, L"ProjectTelvarLauncher") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

TEST(ProgramTest, StartsShowsItsWindowAndSavesWhenClosed) {
  std::wstring folder = make_temp_folder(L"program");
  std::wstring program = join(folder, L"ProjectTelvar.exe");
  ASSERT_TRUE(CopyFileW(windows_path(PROJECT_TELVAR_EXE).c_str(), program.c_str(), FALSE));
  std::wstring disc = join(folder, L"pal.iso");
  write_disc(disc, "SXPE_100.01");
  std::wstring ini = join(folder, L"telvar.ini");
  WritePrivateProfileStringW(L"library", L"count", L"1", ini.c_str());
  WritePrivateProfileStringW(L"library", L"disc0", disc.c_str(), ini.c_str());
  WritePrivateProfileStringW(L"build", L"levels", L"kept", ini.c_str());

  std::wstring command = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(program.c_str(), &command[0], NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup,
                             &process));
  // The window exists a moment before the start-up shows it.
  ProgramWindow search = {process.dwProcessId, NULL};
  for (int i = 0; i < 300 && !(search.found && IsWindowVisible(search.found)); i++) {
    Sleep(50);
    if (!search.found) EnumWindows(find_program_window, (LPARAM)&search);
  }
  ASSERT_TRUE(search.found != NULL);
  wchar_t title[64];
  GetWindowTextW(search.found, title, 64);
  EXPECT_STREQ(title, L"Project Telvar");
  EXPECT_TRUE(IsWindowVisible(search.found));
  RECT frame;
  GetWindowRect(search.found, &frame);
  EXPECT_EQ(frame.right - frame.left, 1100);
  EXPECT_EQ(frame.bottom - frame.top, 860);

  PostMessageW(search.found, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  wchar_t value[PATH_UNITS];
  GetPrivateProfileStringW(L"library", L"selected", L"", value, PATH_UNITS, ini.c_str());
  EXPECT_STREQ(value, L"0");  // written by the last save
  GetPrivateProfileStringW(L"settings", L"capture_seconds", L"", value, PATH_UNITS, ini.c_str());
  EXPECT_STREQ(value, L"3");
  GetPrivateProfileStringW(L"build", L"levels", L"", value, PATH_UNITS, ini.c_str());
  EXPECT_STREQ(value, L"kept");
}

// ---- Fitting the screen and the remembered place -----------------------------

TEST(WindowFit, TheFirstSizeIsCutToTheWorkArea) {
  // The work area is given, as GetMonitorInfo's rcWork would give it: a test
  // of each screen size would need an X server and a Wine prefix of its own.
  struct Case {
    const char* what;
    int width, height;
    RECT work;
    int expected_width, expected_height;
  } cases[] = {
      {"1280 x 1024 holds it: unchanged", 1100, 860, {0, 0, 1280, 984}, 1100, 860},
      {"1366 x 768 with a 40-pixel taskbar", 1100, 860, {0, 0, 1366, 728}, 1100, 728},
      {"1920 x 1080 at 150 %, 48-pixel taskbar", 1650, 1290, {0, 0, 1920, 1032}, 1650, 1032},
      {"1024 x 600 netbook", 1100, 860, {0, 0, 1024, 560}, 1024, 560},
      {"a second monitor left of the first", 1100, 860, {-1366, 0, 0, 728}, 1100, 728},
      {"taskbar at the top", 1100, 860, {0, 40, 1366, 768}, 1100, 728},
      {"an empty work area cuts nothing", 1100, 860, {0, 0, 0, 0}, 1100, 860},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SIZE size = fit_to_work_area(c.width, c.height, c.work);
    EXPECT_EQ(size.cx, c.expected_width);
    EXPECT_EQ(size.cy, c.expected_height);
  }
}

TEST_F(WindowTest, TheDefaultSizeOnAScreenThatHoldsItLiesInsideTheWorkArea) {
  RECT frame, client;
  GetWindowRect(window, &frame);
  GetClientRect(window, &client);
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &info));
  const RECT& work = info.rcWork;
  if (work.right - work.left < 1100 || work.bottom - work.top < 860)
    GTEST_SKIP() << "this display is smaller than the first size";
  EXPECT_EQ(frame.right - frame.left, 1100);
  EXPECT_EQ(frame.bottom - frame.top, 860);
  EXPECT_GE(frame.left, work.left);
  EXPECT_GE(frame.top, work.top);
  EXPECT_LE(frame.right, work.right);
  EXPECT_LE(frame.bottom, work.bottom);
}

TEST_F(WindowTest, TheSmallestWindowFitsALaptopAndAScaledScreen) {
  // The smallest frame the window takes at each scale, against the work
  // areas of a 1366 x 768 screen at 100 % and a 1920 x 1080 screen at 150 %
  // with their taskbars (40 and 48 pixels).
  struct Case {
    float scale;
    int work_width, work_height;
  } cases[] = {{1.0f, 1366, 728}, {1.5f, 1920, 1032}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "scale " << c.scale);
    g_state.dpi_scale = c.scale;
    MINMAXINFO info = {};
    send(WM_GETMINMAXINFO, 0, (LPARAM)&info);
    EXPECT_LE(info.ptMinTrackSize.x, c.work_width);
    EXPECT_LE(info.ptMinTrackSize.y, c.work_height);
    // The frame holds a client area of the smallest size, and no more than a frame's worth.
    RECT frame = {0, 0, 0, 0};
    AdjustWindowRectEx(&frame, (DWORD)GetWindowLongW(window, GWL_STYLE), FALSE,
                       (DWORD)GetWindowLongW(window, GWL_EXSTYLE));
    EXPECT_EQ(info.ptMinTrackSize.x - (frame.right - frame.left), px(MIN_CLIENT_WIDTH));
    EXPECT_EQ(info.ptMinTrackSize.y - (frame.bottom - frame.top), px(MIN_CLIENT_HEIGHT));
  }
  g_state.dpi_scale = 1.0f;
  // The real window cannot be made smaller than that client area.
  SetWindowPos(window, NULL, 0, 0, 200, 200, SWP_NOMOVE | SWP_NOZORDER);
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, MIN_CLIENT_WIDTH);
  EXPECT_EQ(client.bottom, MIN_CLIENT_HEIGHT);
}

// The remembered frame comes from GetWindowPlacement, in workspace
// coordinates: relative to the work area, so a taskbar on the left or at the
// top shifts it by the taskbar's size against the screen. The monitor check
// must see the screen frame, or a window closed just beyond the right or
// bottom edge counts as on the monitor and one just inside it as gone.
TEST(WindowFit, ThePlacementsFrameIsCheckedInScreenCoordinates) {
  const RECT monitor = {0, 0, 1366, 768};
  struct Case {
    const char* what;
    RECT work;
    RECT workspace_frame;
    RECT screen_frame;
  } cases[] = {
      {"taskbar at the bottom: no shift", {0, 0, 1366, 728}, {40, 30, 940, 680}, {40, 30, 940, 680}},
      {"48-pixel taskbar on the left", {48, 0, 1366, 768}, {40, 30, 940, 680}, {88, 30, 988, 680}},
      {"40-pixel taskbar at the top", {0, 40, 1366, 768}, {40, 30, 940, 680}, {40, 70, 940, 720}},
      // Workspace coordinates stay in the desktop's space, shifted by the
      // taskbar of the monitor the frame is on.
      {"a second monitor left of the first, taskbar on its left",
       {-1366 + 60, 0, 0, 768}, {-1350, 10, -550, 610}, {-1290, 10, -490, 610}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RECT mon = monitor;
    if (c.work.left < 0) mon = {-1366, 0, 0, 768};
    RECT got = screen_frame_of_placement(c.workspace_frame, mon, c.work);
    EXPECT_EQ(got.left, c.screen_frame.left);
    EXPECT_EQ(got.top, c.screen_frame.top);
    EXPECT_EQ(got.right, c.screen_frame.right);
    EXPECT_EQ(got.bottom, c.screen_frame.bottom);
  }
}

TEST_F(WindowTest, TheRememberedPlaceIsRestoredOnlyOntoAMonitorThatExists) {
  RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  ASSERT_GE(screen.right, 900);
  ASSERT_GE(screen.bottom, 700);
  struct Case {
    const char* what;
    int x, y, width, height, maximized, show, expected_show;
    bool restored;
  } cases[] = {
      {"a place on the screen", 40, 30, 880, 640, 0, SW_SHOWNORMAL, SW_SHOWNORMAL, true},
      {"closed maximised", 20, 10, 900, 650, 1, SW_SHOWNORMAL, SW_SHOWMAXIMIZED, true},
      {"maximised, started minimised", 20, 10, 900, 650, 1, SW_SHOWMINNOACTIVE, SW_SHOWMINNOACTIVE, true},
      {"a monitor that is gone", 5000, 4000, 880, 640, 1, SW_SHOWNORMAL, SW_SHOWNORMAL, false},
      {"no place known", 0, 0, 0, 0, 0, SW_SHOWNORMAL, SW_SHOWNORMAL, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ShowWindow(window, SW_SHOWNORMAL);
    SetWindowPos(window, NULL, 100, 100, 1000, 800, SWP_NOZORDER);
    g_state.window_x = c.x;
    g_state.window_y = c.y;
    g_state.window_width = c.width;
    g_state.window_height = c.height;
    g_state.window_maximized = c.maximized;
    EXPECT_EQ(restore_window_place(window, c.show), c.expected_show);
    WINDOWPLACEMENT place = {};
    place.length = sizeof place;
    ASSERT_TRUE(GetWindowPlacement(window, &place));
    RECT expected = c.restored ? RECT{c.x, c.y, c.x + c.width, c.y + c.height} : RECT{100, 100, 1100, 900};
    EXPECT_EQ(place.rcNormalPosition.left, expected.left);
    EXPECT_EQ(place.rcNormalPosition.top, expected.top);
    EXPECT_EQ(place.rcNormalPosition.right, expected.right);
    EXPECT_EQ(place.rcNormalPosition.bottom, expected.bottom);
  }
  // And what is remembered at the end is the restored frame, maximised or not.
  ShowWindow(window, SW_SHOWNORMAL);
  SetWindowPos(window, NULL, 60, 50, 900, 700, SWP_NOZORDER);
  ShowWindow(window, SW_MAXIMIZE);
  g_state.window_width = 0;
  remember_window_place(window);
  EXPECT_EQ(g_state.window_x, 60);
  EXPECT_EQ(g_state.window_y, 50);
  EXPECT_EQ(g_state.window_width, 900);
  EXPECT_EQ(g_state.window_height, 700);
  EXPECT_EQ(g_state.window_maximized, 1);
  ShowWindow(window, SW_SHOWNORMAL);
  remember_window_place(window);
  EXPECT_EQ(g_state.window_maximized, 0);
}
