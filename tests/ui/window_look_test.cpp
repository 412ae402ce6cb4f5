// The window's look as the system shows it: the small icon from the icon
// group's own 16-pixel image, the high-contrast theme read again when the
// system says its colours or settings changed, and the build's state on the
// taskbar button.
#include <gtest/gtest.h>
#include <windows.h>
#include <shobjidl.h>

#include "app/window.h"
#include "core/state.h"
#include "pipeline/job_status.h"
#include "support/window_harness.h"
#include "ui/draw_kit.h"
#include "ui/ui_state.h"

namespace {

SIZE icon_size(HICON icon) {
  SIZE size = {0, 0};
  ICONINFO info = {};
  if (!icon || !GetIconInfo(icon, &info)) return size;
  BITMAP bitmap = {};
  GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  size.cx = bitmap.bmWidth;
  size.cy = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return size;
}

TEST(WindowLook, SmallAndLargeIconsAreTheGroupsImagesAtTheSystemSizes) {
  open_launcher_window(L"look-icons");
  HWND window = g_state.main_window;
  ASSERT_TRUE(window != NULL) << "no window: is DISPLAY an X server?";
  HICON small_icon = (HICON)SendMessageW(window, WM_GETICON, ICON_SMALL, 0);
  HICON big_icon = (HICON)SendMessageW(window, WM_GETICON, ICON_BIG, 0);
  ASSERT_TRUE(small_icon != NULL) << "no small icon was set on the window";
  ASSERT_TRUE(big_icon != NULL);
  SIZE s = icon_size(small_icon), b = icon_size(big_icon);
  EXPECT_EQ(s.cx, GetSystemMetrics(SM_CXSMICON));
  EXPECT_EQ(s.cy, GetSystemMetrics(SM_CYSMICON));
  EXPECT_EQ(b.cx, GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(b.cy, GetSystemMetrics(SM_CYICON));
  close_launcher_window();
}

bool g_theme_on;
bool theme_query() { return g_theme_on; }

TEST(WindowLook, HighContrastIsReadAgainWhenTheSystemColoursOrSettingsChange) {
  bool (*saved)() = high_contrast_query;
  high_contrast_query = theme_query;
  open_launcher_window(L"look-theme");
  HWND window = g_state.main_window;
  ASSERT_TRUE(window != NULL);
  const UINT messages[] = {WM_SYSCOLORCHANGE, WM_SETTINGCHANGE, WM_THEMECHANGED};
  for (UINT message : messages) {
    g_theme_on = true;
    SendMessageW(window, message, message == WM_SETTINGCHANGE ? SPI_SETHIGHCONTRAST : 0, 0);
    EXPECT_TRUE(high_contrast()) << std::hex << message;
    g_theme_on = false;
    SendMessageW(window, message, message == WM_SETTINGCHANGE ? SPI_SETHIGHCONTRAST : 0, 0);
    EXPECT_FALSE(high_contrast()) << std::hex << message;
  }
  high_contrast_query = saved;
  read_high_contrast();
  close_launcher_window();
}

TEST(WindowLook, TaskbarButtonFollowsTheBuild) {
  struct Case {
    const char* name;
    LONG running, failed, cancel;
    double progress;
    bool ended;
    int state;
    unsigned long long completed;
  };
  const Case cases[] = {
      {"running at a quarter", 1, 0, 0, 0.25, false, TBPF_NORMAL, 250},
      {"running past the end", 1, 0, 0, 1.7, false, TBPF_NORMAL, 1000},
      {"running, nothing done", 1, 0, 0, -0.5, false, TBPF_NORMAL, 0},
      {"a late report after the end", 0, 0, 0, 0.5, false, TBPF_NOPROGRESS, 0},
      {"built", 0, 0, 0, 1.0, true, TBPF_NOPROGRESS, 0},
      {"failed", 0, 1, 0, 0.4, true, TBPF_ERROR, 1000},
      {"cancelled", 0, 1, 1, 0.4, true, TBPF_NOPROGRESS, 0},
  };
  for (const Case& c : cases) {
    g_job.running = c.running;
    g_job.failed = c.failed;
    g_job.cancel_requested = c.cancel;
    g_job.progress = c.progress;
    TaskbarProgress shown = taskbar_progress(c.ended);
    EXPECT_EQ(shown.state, c.state) << c.name;
    EXPECT_EQ(shown.completed, c.completed) << c.name;
  }
  g_job.running = 0;
  g_job.failed = 0;
  g_job.cancel_requested = 0;
  g_job.progress = 0;
}

TEST(WindowLook, BuildReportsWithATaskbarOrWithoutOneKeepTheWindowWorking) {
  // Under Wine the shell's taskbar interface may be missing or do nothing;
  // the reports must still repaint and end the build as before.
  open_launcher_window(L"look-taskbar");
  HWND window = g_state.main_window;
  ASSERT_TRUE(window != NULL);
  g_job.running = 1;
  g_job.progress = 0.5;
  SendMessageW(window, WM_APP_BUILD_PROGRESS, 0, 0);
  g_job.running = 0;
  g_job.failed = 0;
  SendMessageW(window, WM_APP_BUILD_PROGRESS, 1, 0);
  EXPECT_STREQ(g_state.status_text, L"Built. Ready to play.");
  pump_for(150);
  EXPECT_TRUE(IsWindow(window));
  g_job.progress = 0;
  close_launcher_window();
}

}  // namespace
