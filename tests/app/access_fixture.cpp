// See access_fixture.h.
#include "access_fixture.h"

#include "app/keyboard.h"
#include "core/state.h"
#include "ui/ui_state.h"

void AccessTest::SetUp() {
  folder = open_launcher_window(L"access");
  window = g_state.main_window;
  ASSERT_TRUE(window != NULL) << "no window: is DISPLAY an X server?";
}

void AccessTest::TearDown() {
  pump_until([] { return g_state.running_entry < 0; }, 10000);
  close_launcher_window();
}

void AccessTest::fake_entries(int n) {
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

int AccessTest::built_entry() {
  game_dir = install_standin_game(folder);
  std::wstring disc = join(folder, L"pal.iso");
  write_disc(disc, "SXPE_100.01");
  return add_entry(disc);
}

void AccessTest::paint() {
  InvalidateRect(window, NULL, FALSE);
  UpdateWindow(window);
}

void AccessTest::set_client_size(int width, int height) {
  RECT frame = {0, 0, width, height};
  AdjustWindowRectEx(&frame, (DWORD)GetWindowLongW(window, GWL_STYLE), FALSE,
                     (DWORD)GetWindowLongW(window, GWL_EXSTYLE));
  SetWindowPos(window, NULL, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
}

void AccessTest::key(WPARAM vk, bool ctrl, bool shift) {
  BYTE keys[256];
  GetKeyboardState(keys);
  BYTE before[256];
  memcpy(before, keys, sizeof keys);
  keys[VK_CONTROL] = ctrl ? 0x80 : 0;
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
  SendMessageW(window, WM_KEYDOWN, vk, 1);
  SetKeyboardState(before);
  paint();
}

std::pair<int, int> AccessTest::focus() const {
  const UiItem* item = focused_item();
  return item ? std::make_pair((int)item->id, (int)item->arg) : std::make_pair(0, 0);
}

bool AccessTest::game_ran() {
  return GetFileAttributesW(join(game_dir, L"game_record.txt").c_str()) != INVALID_FILE_ATTRIBUTES;
}
