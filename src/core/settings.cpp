// The settings file telvar.ini: the library (paths and selection) and the
// eight user settings, read and written only through the platform's profile
// functions, which keep any character of a path. Other sections (the build
// section and the stamps of each game) are never touched here.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/state.h"

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

// The settings file is kept as UTF-16 with a byte-order mark: the profile
// functions then keep writing it as UTF-16, so paths of any characters
// survive. A file they create themselves, or one that the user wrote with a
// text editor (to set the release address, say), is 8-bit text: the profile
// functions read it in the ANSI code page, and a path written into it loses
// every character that code page lacks. Such a file is turned into UTF-16
// once, at start-up before it is read: as UTF-8 when its bytes are UTF-8
// (editors write that, with or without a mark; ANSI text with letters beyond
// ASCII is almost never valid UTF-8), in the ANSI code page otherwise, as the
// profile functions would have read it. UTF-16 without its mark gets the
// mark; a file that is no text at all is set aside (see set_aside) rather
// than written over. Whatever fails leaves the file as it was. Only start-up
// does this: no build runs yet, so nothing else has the file open, and no
// later save needs to open it outside the profile functions.
enum { SETTINGS_FILE_LIMIT = 1 << 20 };  // larger files are left alone

// Writes bytes into path, opened with disposition (CREATE_NEW fails when the
// file exists already). True when every byte was written.
static bool write_file(const wchar_t* path, DWORD disposition, const void* bytes, DWORD size) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes, size, &written, NULL) && written == size;
  if (!CloseHandle(file)) ok = false;
  return ok;
}

// Replaces path whole with units (its byte-order mark first), through a new
// file beside it, so that a failure never leaves half a file.
static void replace_with_units(const wchar_t* path, const wchar_t* units, size_t count) {
  wchar_t temporary[PATH_UNITS];
  if (!format_text(temporary, PATH_UNITS, L"%ls.new", path)) return;
  if (write_file(temporary, CREATE_ALWAYS, units, (DWORD)(count * sizeof(wchar_t))))
    MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING);
  DeleteFileW(temporary);  // left only when the write or the move failed
}

// Rewrites path as UTF-16 from its 8-bit text.
static void rewrite_as_unicode(const wchar_t* path, const char* text, int length) {
  UINT code_page = CP_UTF8;
  DWORD flags = MB_ERR_INVALID_CHARS;
  int units = length > 0 ? MultiByteToWideChar(code_page, flags, text, length, NULL, 0) : 0;
  if (length > 0 && units <= 0) {
    code_page = CP_ACP;
    flags = 0;
    units = MultiByteToWideChar(code_page, flags, text, length, NULL, 0);
  }
  if (length > 0 && units <= 0) return;
  wchar_t* wide = (wchar_t*)malloc(((size_t)units + 1) * sizeof(wchar_t));
  if (!wide) return;
  wide[0] = 0xFEFF;  // the byte-order mark, FF FE in little-endian order
  if (units > 0) MultiByteToWideChar(code_page, flags, text, length, wide + 1, units);
  replace_with_units(path, wide, (size_t)units + 1);
  free(wide);
}

// UTF-16 written without its mark: the profile functions would read it as
// 8-bit text, find nothing, and the next save would write over it. A settings
// file begins with an ASCII character ('[', ';', a key or a line end), so its
// first two bytes tell the byte order. True when it was rewritten with a mark.
static bool rewrite_unmarked_utf16(const wchar_t* path, const unsigned char* b, DWORD size) {
  if (size < 2 || size % 2 != 0) return false;
  bool little = b[0] != 0 && b[0] < 0x80 && b[1] == 0;
  bool big = b[0] == 0 && b[1] != 0 && b[1] < 0x80;
  if (!little && !big) return false;
  size_t count = size / 2;
  wchar_t* wide = (wchar_t*)malloc((count + 1) * sizeof(wchar_t));
  if (!wide) return true;  // UTF-16 all the same: not to be set aside
  wide[0] = 0xFEFF;
  for (size_t i = 0; i < count; i++)
    wide[i + 1] = little ? (wchar_t)(b[2 * i] | b[2 * i + 1] << 8) : (wchar_t)(b[2 * i] << 8 | b[2 * i + 1]);
  replace_with_units(path, wide, count + 1);
  free(wide);
  return true;
}

// A file that is no text at all cannot be read, and the next save would write
// over whatever it holds: it is kept under the first free name of
// "telvar.ini.bad", "telvar.ini.bad2" ... "telvar.ini.bad9", and the launcher
// starts without settings. With all nine taken it stays where it is.
static void set_aside(const wchar_t* path) {
  for (int n = 1; n <= 9; n++) {
    wchar_t aside[PATH_UNITS];
    bool fits = n == 1 ? format_text(aside, PATH_UNITS, L"%ls.bad", path)
                       : format_text(aside, PATH_UNITS, L"%ls.bad%d", path, n);
    if (!fits) return;
    if (MoveFileExW(path, aside, 0)) return;  // never over an older one
    if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) return;
  }
}

// An existing 8-bit settings file becomes UTF-16; a missing one stays missing.
void prepare_settings_file() {
  const wchar_t* path = g_state.settings_path;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size = {};
  char* text = NULL;
  DWORD got = 0;
  // A file the user made read-only stays exactly as it is (replacing it whole
  // would go around the attribute).
  BY_HANDLE_FILE_INFORMATION info = {};
  bool read = GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
              GetFileSizeEx(file, &size) && size.QuadPart <= SETTINGS_FILE_LIMIT &&
              (text = (char*)malloc((size_t)size.QuadPart + 1)) != NULL &&
              ReadFile(file, text, (DWORD)size.QuadPart, &got, NULL) && got == (DWORD)size.QuadPart;
  CloseHandle(file);
  if (read) {
    const unsigned char* b = (const unsigned char*)text;
    // FF FE is UTF-16 already; FE FF is UTF-16 of the other byte order, which
    // the profile functions keep as well.
    bool wide = got >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF));
    bool utf8 = got >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF;
    // Zero bytes are no 8-bit text: UTF-16 without its mark, or no text at all.
    bool binary = memchr(text, 0, got) != NULL;
    int skip = utf8 ? 3 : 0;
    if (!wide) {
      if (!binary)
        rewrite_as_unicode(path, text + skip, (int)got - skip);
      else if (!rewrite_unmarked_utf16(path, b, got))
        set_aside(path);
    }
  }
  free(text);
}

void load_settings(StoredDiscSink add_stored_disc) {
  LauncherState& s = g_state;
  prepare_settings_file();  // so that hand-written UTF-8 reads as such
  // The count is taken as the profile function returns it, unsigned: a value
  // past the signed range (or a negative one, the same bits) means "more
  // than fit", not "none", which would drop every stored path and let the
  // next save wipe them.
  UINT count = GetPrivateProfileIntW(LIBRARY, L"count", 0, s.settings_path);
  if (count > LIBRARY_CAPACITY) count = LIBRARY_CAPACITY;
  for (int32_t i = 0; i < (int32_t)count; i++) {
    // One unit more than a path holds: a value that fills it was cut by the
    // profile function, and a cut path names another file.
    wchar_t key[16], path[PATH_UNITS + 1];
    format_text(key, 16, L"disc%d", i);
    DWORD length = GetPrivateProfileStringW(LIBRARY, key, L"", path, PATH_UNITS + 1, s.settings_path);
    if (path[0] && length < PATH_UNITS) add_stored_disc(path);
  }

  s.selected = read_int(LIBRARY, L"selected", s.entry_count < 1 ? -1 : 0);
  if (s.selected >= s.entry_count) s.selected = s.entry_count - 1;  // no lower clamp: negative is "none"

  for (const SettingKey& k : SETTING_KEYS) s.*k.field = read_int(SETTINGS, k.key, k.fallback);
  if (s.capture_seconds < 1 || s.capture_seconds > 10) s.capture_seconds = 3;
  if (s.start_level < -1 || s.start_level > 18) s.start_level = -1;
}

void save_settings() {
  const LauncherState& s = g_state;
  // A new file starts as UTF-16 with its mark (an existing one is left to
  // the profile functions).
  static const unsigned char bom[2] = {0xFF, 0xFE};
  write_file(s.settings_path, CREATE_NEW, bom, sizeof bom);
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
