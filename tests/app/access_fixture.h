// The real launcher window for the keyboard and accessibility tests: a
// fresh launcher folder per test, fake and real library entries, keys with
// modifiers, and a paint on demand.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

#include "support/window_harness.h"

class AccessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // n entries whose images do not exist.
  void fake_entries(int n);
  // A PAL disc whose game is built (the stand-in); returns its index.
  int built_entry();
  // The stand-in game wrote its record: it was started (it may have ended already).
  bool game_ran();
  // Paints now, so that the items and regions are those of the state.
  void paint();
  // Makes the client area width x height (the frame around it as the window has it).
  void set_client_size(int width, int height);
  // WM_KEYDOWN as the window gets it, with Ctrl and Shift held as asked.
  void key(WPARAM vk, bool ctrl = false, bool shift = false);
  // The (id, arg) of the focused item of the last paint, or (0, 0).
  std::pair<int, int> focus() const;

  std::wstring folder, game_dir;
  HWND window = NULL;
};
