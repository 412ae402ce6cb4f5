// The settings panel driven through the real window with real mouse input:
// the pointer is moved and the button pressed through SendInput, so the
// messages come from the system's input queue and go through hit testing of
// the last real paint. Open Settings, flip a switch, step the level, Done;
// the changes must be in telvar.ini.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "core/state.h"
#include "ui/draw_kit.h"
#include "support/window_harness.h"

namespace {

// Presses and releases the left button at the client point. Each input
// event carries its own absolute position, so another program moving the
// pointer in between cannot send the click elsewhere; the window is kept on
// top, and the point must be in it, so no other window takes the click.
void click_at(HWND window, int x, int y) {
  POINT p = {x, y};
  ClientToScreen(window, &p);
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ASSERT_EQ(WindowFromPoint(p), window) << "the point " << x << ", " << y << " is not in the window";
  int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = MulDiv(p.x, 65535, cx - 1);
  input.mi.dy = MulDiv(p.y, 65535, cy - 1);
  const DWORD steps[3] = {MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
  for (DWORD step : steps) {
    input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | step;
    ASSERT_EQ(SendInput(1, &input, sizeof(INPUT)), 1u);
    pump_for(60);
  }
  pump_for(100);
}

int ini_int(const std::wstring& folder, const wchar_t* key) {
  return (int)GetPrivateProfileIntW(L"settings", key, -99, join(folder, L"telvar.ini").c_str());
}

TEST(SettingsByMouse, OpenFlipStepAndDoneReachTheSettingsFile) {
  std::wstring folder = open_launcher_window(L"ui-clicks");
  HWND window = g_state.main_window;
  ASSERT_TRUE(window != NULL) << "no window: is DISPLAY an X server?";
  SetForegroundWindow(window);
  std::wstring disc = join(folder, L"pal.iso");
  write_disc(disc, "SXPE_100.01");
  ASSERT_EQ(add_entry(disc), 0);
  g_state.selected = 0;
  InvalidateRect(window, NULL, FALSE);
  pump_for(200);
  ASSERT_FALSE(g_state.settings_open);
  int vsync = g_state.vsync, level = g_state.start_level;

  RECT client;
  GetClientRect(window, &client);
  int L = px(300) + px(24), R = client.right - px(24);

  // "Settings" in the action row.
  int y = px(24) + px(150) + px(24);
  click_at(window, L + px(182) + px(64), y + px(24));
  ASSERT_TRUE(g_state.settings_open) << "the click on Settings did not open the panel";

  // The VSync switch: first toggle row.
  int row = px(24) + px(52) + px(34) + px(66);
  click_at(window, R - px(24), row + px(17));
  EXPECT_EQ(g_state.vsync, vsync ? 0 : 1);
  EXPECT_EQ(ini_int(folder, L"vsync"), g_state.vsync);

  // "›" of Start in a level: the seventh row after the first.
  int level_row = px(24) + px(52) + px(34) + 7 * px(66);
  click_at(window, R - px(19), level_row + px(20));
  EXPECT_EQ(g_state.start_level, level + 1);
  EXPECT_EQ(ini_int(folder, L"start_level"), level + 1);

  // "Done".
  click_at(window, R - px(45), px(24) + px(20));
  EXPECT_FALSE(g_state.settings_open);
  EXPECT_EQ(ini_int(folder, L"vsync"), vsync ? 0 : 1);
  EXPECT_EQ(ini_int(folder, L"start_level"), level + 1);
  close_launcher_window();
}

}  // namespace
