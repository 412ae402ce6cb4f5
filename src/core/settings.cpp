// The settings file telvar.ini: the library (paths and selection) and the
// eight user settings. It is read through the platform's profile functions,
// which keep any character of a path. A save never writes into the file in
// place (the profile functions rewrite it whole for every key, so a full disk
// cut it in the middle of a path): it writes a complete new file beside it,
// with the library section and the launcher's keys of the settings section
// made anew and every other line (the build section, the stamps of each
// game, the user's own keys) as it stood, and replaces the old file only
// when the new one is whole. A save that fails leaves the old file and says
// so in the status line. Memory: the file's text and the new text are heap
// blocks of one save (the file is at most SETTINGS_FILE_LIMIT bytes).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/settings_table.h"
#include "core/state.h"
#include "core/unwritable_folder.h"

static const wchar_t LIBRARY[] = L"library";
static const wchar_t SETTINGS[] = L"settings";
static const wchar_t WINDOW[] = L"window";

static int32_t read_int(const wchar_t* section, const wchar_t* key, int32_t fallback) {
  // The profile function returns the value as unsigned; negatives come back
  // through the cast, and text that is no number reads as 0.
  return (int32_t)GetPrivateProfileIntW(section, key, fallback, g_state.settings_path);
}

// The settings file is kept as UTF-16 with a byte-order mark: the profile
// functions read it as UTF-16, so paths of any characters survive. A file
// that the user wrote with a text editor (to set the release address, say)
// is 8-bit text: the profile functions read it in the ANSI code page, and a
// path written into it loses every character that code page lacks. Such a
// file is turned into UTF-16 once, at start-up before it is read: as UTF-8
// when its bytes are UTF-8 (editors write that, with or without a mark; ANSI
// text with letters beyond ASCII is almost never valid UTF-8), in the ANSI
// code page otherwise, as the profile functions would have read it. UTF-16
// without its mark gets the mark. A file cut short by a power failure keeps
// its text and ends in zero bytes: what comes before the first zero byte is
// kept when it holds a section. Only a file with nothing readable is set
// aside (see set_aside) rather than written over. Whatever fails leaves the
// file as it was.
enum { SETTINGS_FILE_LIMIT = 1 << 20 };  // larger files are left alone

// The profile functions keep the files they read in memory and read one
// again only when its last-write time has changed; a file system whose clock
// ticks coarsely can give a file that replaced another within the same tick
// the same time. The new file's time is moved on by one unit then.
static void time_apart(HANDLE file, const FILETIME* old_time) {
  FILETIME now;
  if (!old_time || !GetFileTime(file, NULL, NULL, &now) || CompareFileTime(&now, old_time) != 0) return;
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  t.QuadPart += 1;
  now.dwLowDateTime = t.LowPart;
  now.dwHighDateTime = t.HighPart;
  SetFileTime(file, NULL, NULL, &now);
}

// Writes bytes into path, opened with disposition (CREATE_NEW fails when the
// file exists already), and makes them reach the disk before the file is
// closed; its last-write time will differ from old_time when one is given.
// True when every byte was written; *error is then 0, otherwise the
// platform's reason.
static bool write_file(const wchar_t* path, DWORD disposition, const void* bytes, DWORD size, DWORD* error = NULL,
                       const FILETIME* old_time = NULL) {
  DWORD failure = 0;
  DWORD written = 0;
  HANDLE file = CreateFileW(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    failure = GetLastError();
  } else {
    if (!WriteFile(file, bytes, size, &written, NULL))
      failure = GetLastError();
    else if (written != size)
      failure = ERROR_DISK_FULL;
    else if (!FlushFileBuffers(file))
      failure = GetLastError();
    if (!failure) time_apart(file, old_time);
    if (!CloseHandle(file) && !failure) failure = GetLastError();
  }
  if (failure == 0 && file == INVALID_HANDLE_VALUE) failure = ERROR_GEN_FAILURE;
  if (error) *error = failure;
  return file != INVALID_HANDLE_VALUE && failure == 0;
}

// Replaces path whole with units (its byte-order mark first), through a new
// file beside it, so that a failure never leaves half a file. 0 when done,
// otherwise the platform's reason; the old file is then as it was.
static DWORD replace_with_units(const wchar_t* path, const wchar_t* units, size_t count,
                                const FILETIME* old_time = NULL) {
  wchar_t temporary[PATH_UNITS];
  if (!format_text(temporary, PATH_UNITS, L"%ls.new", path)) return ERROR_FILENAME_EXCED_RANGE;
  DWORD error = 0;
  if (write_file(temporary, CREATE_ALWAYS, units, (DWORD)(count * sizeof(wchar_t)), &error, old_time) &&
      !MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = GetLastError();
  if (error) DeleteFileW(temporary);  // left only when the write or the move failed
  return error;
}

// 8-bit text as UTF-16 in a heap block, its byte-order mark first: UTF-8
// when the bytes are UTF-8, the ANSI code page otherwise. *count gets the
// units with the mark. Null when it cannot be converted.
static wchar_t* decode_8bit(const char* text, int length, size_t* count) {
  UINT code_page = CP_UTF8;
  DWORD flags = MB_ERR_INVALID_CHARS;
  int units = length > 0 ? MultiByteToWideChar(code_page, flags, text, length, NULL, 0) : 0;
  if (length > 0 && units <= 0) {
    code_page = CP_ACP;
    flags = 0;
    units = MultiByteToWideChar(code_page, flags, text, length, NULL, 0);
  }
  if (length > 0 && units <= 0) return NULL;
  wchar_t* wide = (wchar_t*)malloc(((size_t)units + 1) * sizeof(wchar_t));
  if (!wide) return NULL;
  wide[0] = 0xFEFF;  // the byte-order mark, FF FE in little-endian order
  if (units > 0) MultiByteToWideChar(code_page, flags, text, length, wide + 1, units);
  *count = (size_t)units + 1;
  return wide;
}

// Rewrites path as UTF-16 from its 8-bit text.
static void rewrite_as_unicode(const wchar_t* path, const char* text, int length) {
  size_t count = 0;
  wchar_t* wide = decode_8bit(text, length, &count);
  if (!wide) return;
  replace_with_units(path, wide, count);
  free(wide);
}

// UTF-16 without its mark, in the byte order that the first two bytes tell (a
// settings file begins with an ASCII character: '[', ';', a key or a line
// end), as a heap block with the mark first. Null when the bytes are no such
// text; *no_memory tells the two failures apart.
static wchar_t* decode_unmarked_utf16(const unsigned char* b, DWORD size, size_t* count, bool* no_memory) {
  *no_memory = false;
  if (size < 2 || size % 2 != 0) return NULL;
  bool little = b[0] != 0 && b[0] < 0x80 && b[1] == 0;
  bool big = b[0] == 0 && b[1] != 0 && b[1] < 0x80;
  if (!little && !big) return NULL;
  size_t units = size / 2;
  wchar_t* wide = (wchar_t*)malloc((units + 1) * sizeof(wchar_t));
  if (!wide) {
    *no_memory = true;
    return NULL;
  }
  wide[0] = 0xFEFF;
  for (size_t i = 0; i < units; i++)
    wide[i + 1] = little ? (wchar_t)(b[2 * i] | b[2 * i + 1] << 8) : (wchar_t)(b[2 * i] << 8 | b[2 * i + 1]);
  *count = units + 1;
  return wide;
}

// UTF-16 written without its mark: the profile functions would read it as
// 8-bit text, find nothing, and the next save would write over it. True when
// it is such a file (rewritten with a mark unless memory ran out).
static bool rewrite_unmarked_utf16(const wchar_t* path, const unsigned char* b, DWORD size) {
  size_t count = 0;
  bool no_memory = false;
  wchar_t* wide = decode_unmarked_utf16(b, size, &count, &no_memory);
  if (!wide) return no_memory;  // UTF-16 all the same: not to be set aside
  replace_with_units(path, wide, count);
  free(wide);
  return true;
}

// True when the 8-bit text holds a section header line, "[name]" after any
// blanks: the profile functions find something in it.
static bool has_section_header(const char* text, size_t length) {
  size_t i = 0;
  while (i < length) {
    while (i < length && (text[i] == ' ' || text[i] == '\t')) i++;
    if (i < length && text[i] == '[') {
      for (size_t j = i + 1; j < length && text[j] != '\n' && text[j] != '\r'; j++)
        if (text[j] == ']') return true;
    }
    while (i < length && text[i] != '\n') i++;
    i++;
  }
  return false;
}

// A file that is no text at all cannot be read, and the next save would write
// over whatever it holds: it is kept under the first free name of
// "telvar.ini.bad", "telvar.ini.bad2" ... "telvar.ini.bad9", and the launcher
// starts without settings. With all nine taken it stays where it is. With
// copy, the file is copied there instead and stays in place. The status line
// says so, naming the file it was kept as: an empty library with no word
// would look like a lost one. The next start reads the new file and says
// nothing more.
static void announce_set_aside(const wchar_t* aside, bool copy) {
  const wchar_t* slash = wcsrchr(aside, L'\\');
  const wchar_t* name = slash ? slash + 1 : aside;
  if (copy)
    format_text(g_state.status_text, STATUS_TEXT_UNITS,
                L"Part of telvar.ini could not be read; the file as it was is kept as %ls.", name);
  else
    format_text(g_state.status_text, STATUS_TEXT_UNITS,
                L"telvar.ini could not be read and was kept as %ls; the launcher started without its library and "
                L"settings.",
                name);
  g_state.status_is_error = true;
}

static bool set_aside(const wchar_t* path, bool copy = false) {
  for (int n = 1; n <= 9; n++) {
    wchar_t aside[PATH_UNITS];
    bool fits = n == 1 ? format_text(aside, PATH_UNITS, L"%ls.bad", path)
                       : format_text(aside, PATH_UNITS, L"%ls.bad%d", path, n);
    if (!fits) return false;
    // Never over an older one.
    if (copy ? CopyFileW(path, aside, TRUE) : MoveFileExW(path, aside, 0)) {
      announce_set_aside(aside, copy);
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

// 8-bit text with zero bytes in it. A write cut short by a power failure
// leaves the file's text followed by zero bytes: the part before the first
// zero byte is kept and converted when the profile functions would find a
// section in it. Should anything but zero bytes follow, the whole file is
// also copied aside first, so that nothing of it is lost. A file with no
// readable section before its first zero byte is set aside whole.
static void rewrite_text_before_zero(const wchar_t* path, const char* text, DWORD size, int skip) {
  const char* zero = (const char*)memchr(text + skip, 0, size - skip);
  size_t length = (size_t)(zero - (text + skip));
  if (!has_section_header(text + skip, length)) {
    set_aside(path);
    return;
  }
  bool only_zeros_follow = true;
  for (const char* c = zero; c < text + size; c++)
    if (*c) only_zeros_follow = false;
  if (!only_zeros_follow && !set_aside(path, true)) return;  // keep it as it is rather than lose its tail
  rewrite_as_unicode(path, text + skip, (int)length);
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
    // Zero bytes are no 8-bit text: UTF-16 without its mark, text whose
    // write was cut short, or no text at all.
    int skip = utf8 ? 3 : 0;
    bool binary = memchr(text + skip, 0, got - skip) != NULL;
    if (!wide) {
      if (!binary)
        rewrite_as_unicode(path, text + skip, (int)got - skip);
      else if (!rewrite_unmarked_utf16(path, b, got))
        rewrite_text_before_zero(path, text, got, skip);
    }
  }
  free(text);
}

// ---- Saving ------------------------------------------------------------------

// The settings file's text as UTF-16 units in a heap block, its mark first,
// however it is stored (see prepare_settings_file). A missing file is an
// empty text. 0 when read, otherwise the reason it cannot be saved over.
static DWORD read_settings_units(const wchar_t* path, wchar_t** units, size_t* count, FILETIME* written,
                                 LARGE_INTEGER* size) {
  *units = NULL;
  *count = 0;
  written->dwLowDateTime = written->dwHighDateTime = 0;
  size->QuadPart = 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      *units = (wchar_t*)malloc(sizeof(wchar_t));
      if (!*units) return ERROR_NOT_ENOUGH_MEMORY;
      (*units)[0] = 0xFEFF;
      *count = 1;
      return 0;
    }
    return error;
  }
  DWORD error = 0;
  char* bytes = NULL;
  DWORD got = 0;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file, &info) || !GetFileSizeEx(file, size))
    error = GetLastError();
  else if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
    error = ERROR_FILE_READ_ONLY;  // the user's choice: it is not replaced
  else if (size->QuadPart > SETTINGS_FILE_LIMIT)
    error = ERROR_FILE_TOO_LARGE;
  else if (!(bytes = (char*)malloc((size_t)size->QuadPart + 1)))
    error = ERROR_NOT_ENOUGH_MEMORY;
  else if (!ReadFile(file, bytes, (DWORD)size->QuadPart, &got, NULL))
    error = GetLastError();
  else if (got != (DWORD)size->QuadPart)
    error = ERROR_READ_FAULT;
  *written = info.ftLastWriteTime;
  CloseHandle(file);

  if (!error) {
    const unsigned char* b = (const unsigned char*)bytes;
    bool no_memory = false;
    if (got >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
      bool big = b[0] == 0xFE;
      size_t n = got / 2;  // the mark included
      *units = (wchar_t*)malloc((n + 1) * sizeof(wchar_t));
      if (*units) {
        for (size_t i = 0; i < n; i++)
          (*units)[i] = big ? (wchar_t)(b[2 * i] << 8 | b[2 * i + 1]) : (wchar_t)(b[2 * i] | b[2 * i + 1] << 8);
        *count = n;
      }
    } else if (!(*units = decode_unmarked_utf16(b, got, count, &no_memory)) && !no_memory) {
      // 8-bit text, up to its first zero byte, as the start-up conversion reads it.
      int skip = got >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF ? 3 : 0;
      const char* zero = (const char*)memchr(bytes + skip, 0, got - skip);
      int length = zero ? (int)(zero - (bytes + skip)) : (int)got - skip;
      *units = decode_8bit(bytes + skip, length, count);
    }
    if (!*units) error = ERROR_NOT_ENOUGH_MEMORY;
  }
  free(bytes);
  return error;
}

// The new text of the file, built in a heap block with room for all of it.
struct SettingsText {
  wchar_t* units;   // the byte-order mark first
  size_t count;     // units written
  size_t capacity;  // units the block holds
  bool overflow;    // a put did not fit: the text is not whole and is not saved
};

static void put_units(SettingsText& out, const wchar_t* units, size_t count) {
  if (out.overflow || count > out.capacity - out.count) {
    out.overflow = true;  // never expected: the block is sized for everything
    return;
  }
  memcpy(out.units + out.count, units, count * sizeof(wchar_t));
  out.count += count;
}

// Lines held back, put with a line end of their own when they had none.
static void put_lines(SettingsText& out, const wchar_t* units, size_t count) {
  if (!count) return;
  put_units(out, units, count);
  if (units[count - 1] != L'\n') put_units(out, L"\r\n", 2);
}

static void put_text(SettingsText& out, const wchar_t* text) { put_units(out, text, wcslen(text)); }

static void put_key(SettingsText& out, const wchar_t* key, const wchar_t* value) {
  put_text(out, key);
  put_text(out, L"=");
  put_text(out, value);
  put_text(out, L"\r\n");
}

static void put_int_key(SettingsText& out, const wchar_t* key, int32_t value) {
  wchar_t text[16];
  format_text(text, 16, L"%d", value);
  put_key(out, key, text);
}

// The library section as the launcher writes it: renumbered without gaps.
static void put_library_section(SettingsText& out) {
  const LauncherState& s = g_state;
  put_text(out, L"[library]\r\n");
  put_int_key(out, L"count", s.entry_count);
  for (int32_t i = 0; i < s.entry_count; i++) {
    wchar_t key[16];
    format_text(key, 16, L"disc%d", i);
    put_key(out, key, s.entries[i].path);
  }
  put_int_key(out, L"selected", s.selected);
}

// The window section as the launcher writes it; only a known place is written.
static void put_window_section(SettingsText& out) {
  const LauncherState& s = g_state;
  put_text(out, L"[window]\r\n");
  put_int_key(out, L"x", s.window_x);
  put_int_key(out, L"y", s.window_y);
  put_int_key(out, L"width", s.window_width);
  put_int_key(out, L"height", s.window_height);
  put_int_key(out, L"maximized", s.window_maximized);
}

static bool is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The line's text without its line end and without blanks at either side.
static void trim_line(const wchar_t* line, size_t length, size_t* first, size_t* last) {
  size_t a = 0, b = length;
  while (b > a && (line[b - 1] == L'\n' || line[b - 1] == L'\r')) b--;
  while (a < b && is_blank(line[a])) a++;
  while (b > a && is_blank(line[b - 1])) b--;
  *first = a;
  *last = b;
}

static bool same_name(const wchar_t* text, size_t length, const wchar_t* name) {
  return wcslen(name) == length && _wcsnicmp(text, name, length) == 0;  // names are ASCII
}

enum SectionKind { SECTION_OTHER, SECTION_LIBRARY, SECTION_SETTINGS, SECTION_WINDOW };

// The section a header line names, or false when the line is no header.
static bool section_header(const wchar_t* line, size_t length, SectionKind* kind) {
  size_t a, b;
  trim_line(line, length, &a, &b);
  if (a >= b || line[a] != L'[') return false;
  size_t close = b;
  while (close > a && line[close - 1] != L']') close--;
  if (close <= a + 1) return false;  // no closing bracket
  const wchar_t* name = line + a + 1;
  size_t name_length = close - 1 - (a + 1);
  *kind = same_name(name, name_length, L"library")    ? SECTION_LIBRARY
          : same_name(name, name_length, L"settings") ? SECTION_SETTINGS
          : same_name(name, name_length, L"window")   ? SECTION_WINDOW
                                                      : SECTION_OTHER;
  // A place the launcher does not know is not its to write: the file's stays.
  if (*kind == SECTION_WINDOW && g_state.window_width <= 0) *kind = SECTION_OTHER;
  return true;
}

// The index in SETTING_TABLE of the key the line sets, or -1.
static int setting_key_of(const wchar_t* line, size_t length) {
  size_t a, b;
  trim_line(line, length, &a, &b);
  size_t equals = a;
  while (equals < b && line[equals] != L'=') equals++;
  if (equals >= b) return -1;
  size_t end = equals;
  while (end > a && is_blank(line[end - 1])) end--;
  for (size_t k = 0; k < SETTING_COUNT; k++)
    if (same_name(line + a, end - a, SETTING_TABLE[k].key)) return (int)k;
  return -1;
}

// The eight settings not yet written into the settings section.
static void put_missing_settings(SettingsText& out, bool (&written)[SETTING_COUNT]) {
  for (size_t k = 0; k < SETTING_COUNT; k++)
    if (!written[k]) {
      put_int_key(out, SETTING_TABLE[k].key, g_state.*SETTING_TABLE[k].field);
      written[k] = true;
    }
}

// The file's new text from its old one (units[1..count), the mark skipped):
// the library section (and the window section, when the place is known)
// takes the place of the first one, later ones go (the
// profile functions would not read them); the first settings section keeps
// every line but the launcher's eight keys, which take the place of their
// first line (or join its end); everything else stays line for line.
static void compose_settings(const wchar_t* units, size_t count, SettingsText& out) {
  enum { KEYS = SETTING_COUNT };
  bool written[KEYS] = {};
  bool library_done = false, settings_seen = false, window_done = false;
  SectionKind section = SECTION_OTHER;
  bool in_first_settings = false;
  size_t held_blank = 0, held_at = 0;  // blank lines at the end of the settings section so far

  put_units(out, L"\xFEFF", 1);
  size_t i = 1;
  while (i <= count) {
    // One line with its line end; at the end of the text, a last line without one.
    size_t start = i;
    while (i < count && units[i] != L'\n') i++;
    if (i < count) i++;
    const wchar_t* line = units + start;
    size_t length = i - start;
    bool at_end = length == 0;

    SectionKind next;
    bool header = !at_end && section_header(line, length, &next);
    if (in_first_settings && (header || at_end)) {
      put_missing_settings(out, written);
      put_lines(out, units + held_at, held_blank);
      held_blank = 0;
      in_first_settings = false;
    }
    if (at_end) break;
    if (header) {
      section = next;
      if (section == SECTION_LIBRARY) {
        if (!library_done) put_library_section(out);
        library_done = true;
        continue;
      }
      if (section == SECTION_WINDOW) {
        if (!window_done) put_window_section(out);
        window_done = true;
        continue;
      }
      if (section == SECTION_SETTINGS && !settings_seen) {
        settings_seen = true;
        in_first_settings = true;
      }
    } else if (section == SECTION_LIBRARY || section == SECTION_WINDOW) {
      continue;  // written anew
    } else if (in_first_settings) {
      size_t a, b;
      trim_line(line, length, &a, &b);
      if (a == b) {  // held back so that keys added at the end go before it
        if (!held_blank) held_at = start;
        held_blank += length;
        continue;
      }
      put_lines(out, units + held_at, held_blank);
      held_blank = 0;
      int k = setting_key_of(line, length);
      if (k >= 0) {
        if (!written[k]) put_int_key(out, SETTING_TABLE[k].key, g_state.*SETTING_TABLE[k].field);
        written[k] = true;  // a second line of the same key would only hide behind the first
        continue;
      }
    }
    put_lines(out, line, length);  // the old text's last line may have no line end
  }
  if (!library_done) put_library_section(out);
  if (!settings_seen) {
    put_text(out, L"[settings]\r\n");
    put_missing_settings(out, written);
  }
  if (!window_done && g_state.window_width > 0) put_window_section(out);
}

// True while the file is as it was read: a build job or telvar-cli may write
// its stamps into it meanwhile, and those must not be saved over.
static bool unchanged_since(const wchar_t* path, const FILETIME& written, const LARGE_INTEGER& size) {
  WIN32_FILE_ATTRIBUTE_DATA now = {};
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &now))
    return GetLastError() == ERROR_FILE_NOT_FOUND && size.QuadPart == 0 && written.dwLowDateTime == 0 &&
           written.dwHighDateTime == 0;
  return CompareFileTime(&now.ftLastWriteTime, &written) == 0 && now.nFileSizeLow == size.LowPart &&
         now.nFileSizeHigh == (DWORD)size.HighPart;
}

// One attempt at a save: 0 when the file was replaced, ERROR_RETRY when it
// changed while the new text was made, otherwise the reason.
static DWORD save_once(const wchar_t* path) {
  wchar_t* old_units = NULL;
  size_t old_count = 0;
  FILETIME written;
  LARGE_INTEGER size;
  DWORD error = read_settings_units(path, &old_units, &old_count, &written, &size);
  if (error) return error;

  // Room for the old text with a line end more per line, and the launcher's own keys.
  SettingsText out = {};
  out.capacity = 2 * old_count + 64 + (size_t)LIBRARY_CAPACITY * (PATH_UNITS + 16) + 64 * 16;
  out.units = (wchar_t*)malloc(out.capacity * sizeof(wchar_t));
  if (!out.units) error = ERROR_NOT_ENOUGH_MEMORY;
  if (!error) compose_settings(old_units, old_count, out);
  if (!error && out.overflow) error = ERROR_INSUFFICIENT_BUFFER;
  free(old_units);
  if (!error && !unchanged_since(path, written, size)) error = ERROR_RETRY;
  if (!error) error = replace_with_units(path, out.units, out.count, &written);
  free(out.units);
  return error;
}

// Why a save failed, for the status line.
static void report_save_failure(DWORD error) {
  LauncherState& s = g_state;
  const wchar_t* reason = NULL;
  // Refused for want of write access: when the launcher's folder itself
  // takes no new file, saving again will never work there, and the one way
  // on is to move the launcher.
  wchar_t folder[PATH_UNITS];
  if ((error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) &&
      unwritable_folder_holding(s.settings_path, s.launcher_dir, folder)) {
    wchar_t cause[STATUS_TEXT_UNITS];
    describe_unwritable_folder(folder, s.launcher_dir, cause, STATUS_TEXT_UNITS);
    format_text(s.status_text, STATUS_TEXT_UNITS, L"Could not save the settings. %ls", cause);
    s.status_is_error = true;
    return;
  }
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: reason = L"the disk is full."; break;
    case ERROR_FILE_READ_ONLY: reason = L"telvar.ini is read-only."; break;
    case ERROR_ACCESS_DENIED:
      reason = L"telvar.ini cannot be replaced (access denied). Check that no folder or program holds that name.";
      break;
    case ERROR_WRITE_PROTECT: reason = L"the drive is write-protected."; break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_RETRY: reason = L"another program is using telvar.ini."; break;
    case ERROR_FILE_TOO_LARGE: reason = L"telvar.ini is larger than 1 MB."; break;
    case ERROR_NOT_ENOUGH_MEMORY: reason = L"not enough memory."; break;
  }
  if (reason)
    format_text(s.status_text, STATUS_TEXT_UNITS, L"Could not save the settings: %ls", reason);
  else
    format_text(s.status_text, STATUS_TEXT_UNITS, L"Could not save the settings: error %lu.", (unsigned long)error);
  s.status_is_error = true;
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

  for (const SettingInfo& k : SETTING_TABLE) {
    int32_t value = read_int(SETTINGS, k.key, k.fallback);
    s.*k.field = setting_in_range(k, value) ? value : k.fallback;
  }

  // The window's place; a size that is no size leaves the place unknown, and
  // the window opens at its first size. Whether the place is on a monitor
  // that still exists is the window's question.
  s.window_x = read_int(WINDOW, L"x", 0);
  s.window_y = read_int(WINDOW, L"y", 0);
  s.window_width = read_int(WINDOW, L"width", 0);
  s.window_height = read_int(WINDOW, L"height", 0);
  s.window_maximized = read_int(WINDOW, L"maximized", 0) != 0;
  if (s.window_width <= 0 || s.window_height <= 0) {
    s.window_x = s.window_y = s.window_width = s.window_height = s.window_maximized = 0;
  }
}

bool save_settings() {
  // A file another program holds open for a moment, or one that changes
  // while the new text is made, is tried again a few times.
  DWORD error = 0;
  for (int attempt = 0; attempt < 5; attempt++) {
    if (attempt) Sleep(20);
    error = save_once(g_state.settings_path);
    if (error != ERROR_RETRY && error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) break;
  }
  if (error) report_save_failure(error);
  return error == 0;
}
