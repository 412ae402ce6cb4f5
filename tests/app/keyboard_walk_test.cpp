// A walk through the real window with real keys only, sent through the X
// server: select a disc, open the settings, change the resolution and VSync,
// close them, play the built game, and remove the disc after answering its
// question. telvar.ini and the stand-in game's record show the results.
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <string>

#include "access_fixture.h"
#include "app/keyboard.h"
#include "core/state.h"
#include "ui/ui_state.h"
#include "ui/hit_regions.h"

static bool xdotool(const std::wstring& arguments) {
  std::wstring command = L"xdotool " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\usr\\bin\\xdotool", &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                      &process))
    return false;
  WaitForSingleObject(process.hProcess, 5000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Keys go to whatever window of the shared display is on top, so the window
// is brought forward before each step; a step is sent once (keys like Tab and
// Space are not harmless to repeat) and waited for.
static bool keys(HWND window, const wchar_t* names, const std::function<bool()>& done) {
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(window);
  SetFocus(window);
  pump_for(100);
  bool sent = xdotool(std::wstring(L"key --delay 60 ") + names);
  bool ok = sent && pump_until(done, 4000);
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  return ok;
}

static bool focus_is(int32_t id, int32_t arg) {
  const UiItem* item = focused_item();
  return g_ui.focus_visible && item && item->id == id && item->arg == arg;
}

TEST_F(AccessTest, AWalkWithRealKeysOnly) {
  int built = built_entry();
  ASSERT_EQ(built, 0);
  g_state.selected = -1;
  g_state.minimize = 0;
  g_state.upscaled = 0;
  g_state.vsync = 1;
  paint();

  ASSERT_TRUE(keys(window, L"Down", [] { return g_state.selected == 0; }));
  ASSERT_TRUE(keys(window, L"F2", [] { return g_state.settings_open; }));
  // The row, Add disc image, Scan a folder, Done, then Native.
  ASSERT_TRUE(keys(window, L"Tab Tab Tab Tab Tab", [] { return focus_is(CMD_SET_RESOLUTION, 0); }));
  ASSERT_TRUE(keys(window, L"Right", [] { return g_state.upscaled == 1; }));
  ASSERT_TRUE(keys(window, L"Tab", [] { return focus_is(CMD_TOGGLE_SETTING, 0); }));
  ASSERT_TRUE(keys(window, L"space", [] { return g_state.vsync == 0; }));
  ASSERT_TRUE(keys(window, L"Escape", [] { return !g_state.settings_open; }));
  EXPECT_EQ(ini_string(L"settings", L"upscaled"), L"1");
  EXPECT_EQ(ini_string(L"settings", L"vsync"), L"0");

  std::wstring record = join(game_dir, L"game_record.txt");
  ASSERT_TRUE(keys(window, L"F5", [&] { return GetFileAttributesW(record.c_str()) != INVALID_FILE_ATTRIBUTES; }));
  EXPECT_TRUE(pump_until([] { return g_state.running_entry < 0; }, 10000));
  EXPECT_NE(read_bytes(record).find("command_line="), std::string::npos);

  // Delete asks; "y" answers Yes in the question box.
  DialogSeen seen = with_dialog(
      [&] {
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetForegroundWindow(window);
        SetFocus(window);
        pump_for(100);
        xdotool(L"key Delete");
        pump_until([] { return g_state.entry_count == 0; }, 8000);
        SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      },
      [](HWND box) {
        SetForegroundWindow(box);
        Sleep(200);
        xdotool(L"key y");
      });
  EXPECT_TRUE(seen.found);
  EXPECT_EQ(g_state.entry_count, 0);
  EXPECT_EQ(ini_string(L"library", L"count"), L"0");
}
