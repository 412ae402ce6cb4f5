// The settings file telvar.ini: the library (paths and selection) and the
// eight user settings, read and written only through the platform's profile
// functions, which keep any character of a path. Other sections (the build
// section and the stamps of each game) are never touched here.
#include <stdio.h>

#include "app/state.h"
#include "library/disc_identify.h"

static const wchar_t LIBRARY[] = L"library";
static const wchar_t SETTINGS[] = L"settings";

static int32_t read_int(const wchar_t* section, const wchar_t* key, int32_t fallback) {
  // The profile function returns the value as unsigned; negatives come back
  // through the cast, and text that is no number reads as 0.
  return (int32_t)GetPrivateProfileIntW(section, key, fallback, g_state.settings_path);
}

static void write_int(const wchar_t* section, const wchar_t* key, int32_t value) {
  wchar_t text[16];
  format_text(text, 16, L"%d", value);
  WritePrivateProfileStringW(section, key, text, g_state.settings_path);
}

struct SettingKey {
  const wchar_t* key;
  int32_t LauncherState::*field;
  int32_t fallback;
};

// In the order they are written.
static const SettingKey SETTING_KEYS[] = {
    {L"upscaled", &LauncherState::upscaled, 1},
    {L"vsync", &LauncherState::vsync, 0},
    {L"no_gs_thread", &LauncherState::no_gs_thread, 0},
    {L"no_gl_thread", &LauncherState::no_gl_thread, 0},
    {L"fps_log", &LauncherState::fps_log, 0},
    {L"capture_seconds", &LauncherState::capture_seconds, 3},
    {L"start_level", &LauncherState::start_level, -1},
    {L"minimize", &LauncherState::minimize, 1},
};

void load_settings() {
  LauncherState& s = g_state;
  int32_t count = read_int(LIBRARY, L"count", 0);
  if (count > LIBRARY_CAPACITY) count = LIBRARY_CAPACITY;
  for (int32_t i = 0; i < count; i++) {
    wchar_t key[16], path[PATH_UNITS];
    format_text(key, 16, L"disc%d", i);
    GetPrivateProfileStringW(LIBRARY, key, L"", path, PATH_UNITS, s.settings_path);
    if (path[0]) add_disc(path, false);
  }

  s.selected = read_int(LIBRARY, L"selected", s.entry_count < 1 ? -1 : 0);
  if (s.selected >= s.entry_count) s.selected = s.entry_count - 1;  // no lower clamp: negative is "none"

  for (const SettingKey& k : SETTING_KEYS) s.*k.field = read_int(SETTINGS, k.key, k.fallback);
  if (s.capture_seconds < 1 || s.capture_seconds > 10) s.capture_seconds = 3;
  if (s.start_level < -1 || s.start_level > 18) s.start_level = -1;
}

// A new settings file starts as UTF-16 with a byte-order mark: the profile
// functions then keep writing it as UTF-16, so paths of any characters
// survive (a file they create themselves is in the ANSI code page).
static void create_unicode_file(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;  // exists already, or cannot be written
  static const unsigned char bom[2] = {0xFF, 0xFE};
  DWORD written = 0;
  WriteFile(file, bom, sizeof bom, &written, NULL);
  CloseHandle(file);
}

void save_settings() {
  const LauncherState& s = g_state;
  create_unicode_file(s.settings_path);
  // Dropping the section first renumbers the library without gaps.
  WritePrivateProfileStringW(LIBRARY, NULL, NULL, s.settings_path);
  write_int(LIBRARY, L"count", s.entry_count);
  for (int32_t i = 0; i < s.entry_count; i++) {
    wchar_t key[16];
    format_text(key, 16, L"disc%d", i);
    WritePrivateProfileStringW(LIBRARY, key, s.entries[i].path, s.settings_path);
  }
  write_int(LIBRARY, L"selected", s.selected);
  for (const SettingKey& k : SETTING_KEYS) write_int(SETTINGS, k.key, s.*k.field);
}
