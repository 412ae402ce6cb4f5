// The real launcher window, created in this test process through the
// launcher's own window code, with a fresh launcher folder per test; and the
// helpers the window and launch tests share: message pumping, the save probe,
// disc images, a built stand-in game, and finding a message box or dialog.
#pragma once
#include <windows.h>
#include <functional>
#include <string>

#include "ui/hit_regions.h"
#include "support/temp_folder.h"  // make_temp_folder, join, write_bytes, read_bytes

// A fresh launcher folder (whose release address is a missing local folder,
// so that a build started by a test fails at once and never goes online), a reset state record and a new, shown window.
// Returns the folder.
std::wstring open_launcher_window(const wchar_t* name);

// Handles what the window posted; the window stays for the next test unless
// the test destroyed it.
void close_launcher_window();

// Handles this thread's messages for ms milliseconds (WM_QUIT is dropped).
void pump_for(int ms);

// Handles messages until done() holds or timeout_ms passed; done()'s last value.
bool pump_until(const std::function<bool()>& done, int timeout_ms);

// Handles messages until the identification worker has nothing left and
// every add has its answer (and so its summary in the status line).
bool wait_for_identification(int timeout_ms = 20000);

// Marks the settings file so that saved() tells whether save_settings ran
// since (a save rewrites the whole library section).
void arm_save_probe();
bool saved();

std::wstring ini_string(const wchar_t* section, const wchar_t* key);

// Writes a disc image of the serial; with reference_boot the boot file is the
// one the catalogue knows (DISC_OK for the two buildable rows).
void write_disc(const std::wstring& path, const char* serial, bool reference_boot = true);

// The PAL game's folder under the launcher folder, with the stand-in game as
// mox1_wrapper.exe and an empty mox1_game.dll. Returns the folder.
std::wstring install_standin_game(const std::wstring& launcher_dir);

// Appends a library entry for path and identifies it.
int add_entry(const std::wstring& path);

// Sets the hit regions as a paint would, right before mouse messages are sent
// (no message is pumped in between, so no paint replaces them).
void set_regions(std::initializer_list<HitRegion> regions);
LPARAM point(int x, int y);

// Runs answer(box) on a helper thread for the first dialog window (class
// "#32770") that this thread shows, while action() runs on this thread.
// Returns the dialog's title and its static text as the helper saw them.
struct DialogSeen {
  bool found = false;
  std::wstring title;
  std::wstring text;
};
DialogSeen with_dialog(const std::function<void()>& action, const std::function<void(HWND)>& answer);

// A Windows path for a path of this build tree.
std::wstring windows_path(const char* unix_path);
