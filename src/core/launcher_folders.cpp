// The launcher's own folders and where a path really lies; see
// launcher_folders.h.
#include "core/launcher_folders.h"

#include <windows.h>

#include "core/file_place.h"
#include "core/state.h"
#include "core/text.h"

// The launcher's own folders: builds replace and delete what lies in them.
static const wchar_t* const MANAGED_FOLDERS[] = {L"games", L"toolchain", L"downloads"};

// Length of the root of a full path: "C:\" or "\\server\share\"; 0 for
// anything else.
static size_t root_length(const wchar_t* full) {
  if (full[0] && full[1] == L':' && full[2] == L'\\') return 3;
  if (full[0] != L'\\' || full[1] != L'\\') return 0;
  size_t separators = 0, i = 0;
  for (; full[i] && separators < 4; i++)
    if (full[i] == L'\\') separators++;
  return i;
}

// Where the platform says the object at path is, without the "\\?\" prefix
// (a network path keeps its two leading separators). Links are followed and
// short names come back long. False when it cannot be opened or named.
static bool final_place(const wchar_t* path, wchar_t* out) {
  HANDLE handle = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (handle == INVALID_HANDLE_VALUE) return false;
  wchar_t place[PLACE_UNITS];
  DWORD length = GetFinalPathNameByHandleW(handle, place, PLACE_UNITS, 0);
  CloseHandle(handle);
  if (length == 0 || length >= PLACE_UNITS) return false;
  const wchar_t* text = place;
  if (wcsncmp(text, L"\\\\?\\UNC\\", 8) == 0) {
    text += 6;  // keeps "\\" before the server's name
    return format_text(out, PLACE_UNITS, L"\\%ls", text);
  }
  if (wcsncmp(text, L"\\\\?\\", 4) == 0) text += 4;
  return copy_text(out, PLACE_UNITS, text);
}

// The full path of what path names, as the platform reaches it: relative
// parts resolved, links followed and short names made long, so that two
// names of one object come out equal but for letter case. A path that is
// not there yet gets the real place of its nearest folder that is, with the
// rest as written. False when it does not fit.
static bool real_path(const wchar_t* path, wchar_t* out) {
  wchar_t full[PLACE_UNITS];
  DWORD n = GetFullPathNameW(path, PLACE_UNITS, full, NULL);
  if (n == 0 || n >= PLACE_UNITS) return false;
  size_t root = root_length(full);
  size_t cut = n;
  while (cut > root) {
    wchar_t kept = full[cut];
    full[cut] = 0;
    bool placed = final_place(full, out);
    full[cut] = kept;
    if (placed) {
      size_t length = wcslen(out);
      const wchar_t* rest = full + cut;
      if (length > 0 && out[length - 1] == L'\\' && rest[0] == L'\\') rest++;
      return format_text(out + length, PLACE_UNITS - length, L"%ls", rest);
    }
    // Up to the folder above: cut at the separator before the last name.
    while (cut > root && full[cut - 1] != L'\\') cut--;
    if (cut > root) cut--;
  }
  return copy_text(out, PLACE_UNITS, full);  // nothing of it is there: as written
}

const wchar_t* managed_folder_holding(const wchar_t* path) {
  wchar_t place[PLACE_UNITS];
  if (!real_path(path, place)) return NULL;
  size_t place_length = wcslen(place);
  for (const wchar_t* name : MANAGED_FOLDERS) {
    wchar_t folder[PATH_UNITS], folder_place[PLACE_UNITS];
    if (!join_path(folder, g_state.launcher_dir, name) || !real_path(folder, folder_place)) continue;
    size_t length = wcslen(folder_place);
    if (length > 0 && folder_place[length - 1] == L'\\') length--;  // a folder link to a drive root
    // Inside means below it: "games-old" beside "games" is not.
    if (place_length > length && place[length] == L'\\' &&
        CompareStringOrdinal(place, (int)length, folder_place, (int)length, TRUE) == CSTR_EQUAL)
      return name;
  }
  return NULL;
}

